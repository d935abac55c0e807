#pragma once

#include <functional>
#include <memory>

class QTranslator;

namespace quillon {

// The application: prepares the network layer, runs the main window until it closes, and ends.
class CQuillonApp {
public:
    // Starts the network layer; false when it cannot be used.
    using NetworkStartup = std::function<bool()>;

    CQuillonApp();
    // With another start-up step (a test stands for a failing one with it).
    explicit CQuillonApp(NetworkStartup startup);
    ~CQuillonApp();

    // Runs the program once; always false: there is nothing to go on with after the window.
    bool InitInstance();

    // Qt's own texts (file dialogs, standard buttons) in Korean, whatever the locale; false when
    // the translation is not installed, and they stay English.
    bool LoadQtTranslation();

private:
    NetworkStartup startNetwork;
    std::unique_ptr<QTranslator> qtTexts;
};

}  // namespace quillon
