#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

    // A file or folder to start with instead of the last file.
    void OpenAtStart(std::filesystem::path path) { open = std::move(path); }

    // Runs the program once; always false: there is nothing to go on with after the window.
    bool InitInstance();

    // Qt's own texts (file dialogs, standard buttons) in Korean, whatever the locale; false when
    // the translation is not installed, and they stay English.
    bool LoadQtTranslation();

private:
    NetworkStartup startNetwork;
    std::unique_ptr<QTranslator> qtTexts;
    std::optional<std::filesystem::path> open;
};

}  // namespace quillon
