#include "recording/WriterStatus.h"

#include <utility>

namespace {
std::string g_error;
}

const std::string& LastWriterError() {
    return g_error;
}
void SetWriterError(std::string text) {
    g_error = std::move(text);
}
