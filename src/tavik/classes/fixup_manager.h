#pragma once

class TFixupManager {
public:
    TFixupManager() = default;
};
