#pragma once

class TBlockStack {
public:
    TBlockStack() = default;
};
