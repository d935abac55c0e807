#pragma once

#include <functional>

namespace quillon {

// The application: prepares the network layer, runs the main window until it closes, and ends.
class CQuillonApp {
public:
    // Starts the network layer; false when it cannot be used.
    using NetworkStartup = std::function<bool()>;

    CQuillonApp();
    // With another start-up step (a test stands for a failing one with it).
    explicit CQuillonApp(NetworkStartup startup);

    // Runs the program once; always false: there is nothing to go on with after the window.
    bool InitInstance();

private:
    NetworkStartup startNetwork;
};

}  // namespace quillon
