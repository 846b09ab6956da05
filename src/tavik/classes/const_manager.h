#pragma once

class TConstManager {
public:
    TConstManager() = default;
};
