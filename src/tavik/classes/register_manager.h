#pragma once

class TRegisterManager {
public:
    TRegisterManager() = default;
};
