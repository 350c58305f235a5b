#include "platform/Reply.h"

#include "platform/File.h"

namespace platform {

void Reply::Clear() {
    head.clear();
    text.clear();
    shared.reset();
    file.reset();
    fileOffset = fileCount = 0;
    sent_ = 0;
}

uint64_t Reply::Size() const { return head.size() + Memory().size() + (file ? fileCount : 0); }

}  // namespace platform
