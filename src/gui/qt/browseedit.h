#pragma once

#include <QLineEdit>
#include <QToolButton>

namespace quillon {

// An edit box with a browse button inside its right edge. The box itself only shows the path;
// the owner answers BrowseRequested with a file or folder dialog and puts the choice in the box.
class BrowseEdit : public QLineEdit {
    Q_OBJECT

public:
    enum class Target { File, Folder };

    explicit BrowseEdit(QWidget* parent = nullptr);

    void SetTarget(Target target) { browseTarget = target; }
    Target BrowseTarget() const { return browseTarget; }
    QToolButton* BrowseButton() const { return button; }

signals:
    void BrowseRequested();

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Alt+Down and F4 browse from the keyboard, as they open a drop-down list.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void PlaceButton();

    QToolButton* button;
    Target browseTarget = Target::File;
};

}  // namespace quillon
