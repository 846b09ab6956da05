#pragma once

class TResourceManager {
public:
    TResourceManager() = default;
};
