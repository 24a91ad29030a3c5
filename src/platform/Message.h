#pragma once
// Modal message boxes with a fixed text go through one replaceable function, so that
// tests read the text instead of blocking on a dialog.
#include <functional>
#include <string>

using MessageHandler = std::function<void(const std::string& text)>;

void showMessage(const std::string& text);
// Installs the handler; returns the previous one. The shell installs a QMessageBox.
MessageHandler setMessageHandler(MessageHandler handler);
