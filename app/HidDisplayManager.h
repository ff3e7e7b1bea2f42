#pragma once

#include "discovery/ZelHidDisplayList.h"

// Owns the display list for the whole run and runs discovery.
class HidDisplayManager {
public:
    explicit HidDisplayManager(const DiscoveryWalks& walks);
    ~HidDisplayManager();
    HidDisplayManager(const HidDisplayManager&) = delete;
    HidDisplayManager& operator=(const HidDisplayManager&) = delete;

    bool initialise();
    ZelHidDisplayList& list() { return displayList; }

private:
    ZelHidDisplayList displayList;  // built before the body runs, destroyed after
    bool init = false;
};
