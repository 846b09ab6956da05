#pragma once

class TMacroManager {
public:
    TMacroManager() = default;
};
