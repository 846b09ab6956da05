#pragma once

class TIdentManager {
public:
    TIdentManager() = default;
};
