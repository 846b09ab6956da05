#pragma once

class TFunctionManager {
public:
    TFunctionManager() = default;
};
