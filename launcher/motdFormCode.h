// The message-of-the-day window: a text fetched from the update server each time it opens.
#pragma once

#include <functional>
#include <string>

#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>

#include "launcher/motdText.h"

// Fetches url into localPath (the download's signature); raises std::runtime_error on failure.
using TfileFetcher = std::function<bool(const std::string& url, const std::string& localPath, bool announce)>;

class TmotdForm : public QDialog {
public:
    explicit TmotdForm(QWidget* parent = nullptr);

    void setCentreWindow(QWidget* window) { centreWindow = window; }
    // Fetches "motd.txt" afresh, shows it (or the error, then what was shown before) and opens
    // the window modally.
    void motdMenuClick();
    // The fetch step of motdMenuClick without opening the window.
    void fetchMessage();

    QPlainTextEdit* motdMemo = nullptr;
    QPushButton* closeButton = nullptr;
    // The download used to fetch the message; the update server's by default.
    TfileFetcher fetchFile;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* centreWindow = nullptr;
};

// The local and server name of the message file.
inline constexpr const char* motdFileName = "motd.txt";
