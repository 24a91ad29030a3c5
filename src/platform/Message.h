#pragma once
// Modal message boxes with a fixed text go through one replaceable function, so that
// tests read the text instead of blocking on a dialog.
#include <functional>
#include <string>

using MessageHandler = std::function<void(const std::string& text)>;

void showMessage(const std::string& text);
// Installs the handler; returns the previous one. The shell installs a QMessageBox.
MessageHandler setMessageHandler(MessageHandler handler);

// A yes/no question (Yes is the default), through a replaceable function as the messages
// are. Without a handler the answer is yes and the question goes to the log.
using QuestionHandler = std::function<bool(const std::string& text)>;

bool askQuestion(const std::string& text);
QuestionHandler setQuestionHandler(QuestionHandler handler);
