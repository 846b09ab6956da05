#pragma once

class TImportManager {
public:
    TImportManager() = default;
};
