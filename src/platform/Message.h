#pragma once
// Modal message boxes with a fixed text go through one replaceable function, so that
// tests read the text instead of blocking on a dialog.
// The texts are the shown ones, translated where they are made.
#include <QString>
#include <functional>

using MessageHandler = std::function<void(const QString& text)>;

void showMessage(const QString& text);
// Installs the handler; returns the previous one. The shell installs a QMessageBox.
MessageHandler setMessageHandler(MessageHandler handler);

// A yes/no question (Yes is the default), through a replaceable function as the messages
// are. Without a handler the answer is yes and the question goes to the log.
using QuestionHandler = std::function<bool(const QString& text)>;

bool askQuestion(const QString& text);
QuestionHandler setQuestionHandler(QuestionHandler handler);
