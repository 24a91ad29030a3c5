#include "platform/Message.h"

#include <cstdio>
#include <mutex>

#include "platform/Log.h"

namespace {
std::mutex g_handlerMutex;
MessageHandler g_handler;
QuestionHandler g_question;
}  // namespace

void showMessage(const QString& text) {
    MessageHandler h;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        h = g_handler;
    }
    if (h)
        h(text);
    else
        qCWarning(lcPlatform, "%s", qUtf8Printable(text));
}

MessageHandler setMessageHandler(MessageHandler handler) {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    std::swap(g_handler, handler);
    return handler;
}

bool askQuestion(const QString& text) {
    QuestionHandler h;
    {
        std::lock_guard<std::mutex> lock(g_handlerMutex);
        h = g_question;
    }
    if (h) return h(text);
    qCWarning(lcPlatform, "%s", qUtf8Printable(text));
    return true;
}

QuestionHandler setQuestionHandler(QuestionHandler handler) {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    std::swap(g_question, handler);
    return handler;
}
