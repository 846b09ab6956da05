#pragma once

class TVarManager {
public:
    TVarManager() = default;
};
