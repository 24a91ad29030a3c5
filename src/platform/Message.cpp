#include "platform/Message.h"

#include <cstdio>
#include <mutex>

#include "platform/Log.h"

namespace {
std::mutex g_mutex;
MessageHandler g_handler;
}  // namespace

void showMessage(const std::string& text) {
    MessageHandler h;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        h = g_handler;
    }
    if (h)
        h(text);
    else
        qCWarning(lcProgram, "%s", text.c_str());
}

MessageHandler setMessageHandler(MessageHandler handler) {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::swap(g_handler, handler);
    return handler;
}
