#pragma once

// "Import accepts": what each way of importing does, in a small popup under the
// album manager's help button.

#include <QFrame>

namespace calmcove {

class ImportHelpPopup : public QFrame
{
    Q_OBJECT
public:
    explicit ImportHelpPopup(QWidget* parent = nullptr);
    void showBelow(QWidget* anchor);
};

} // namespace calmcove
