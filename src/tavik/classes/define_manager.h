#pragma once

class TDefineManager {
public:
    TDefineManager() = default;
};
