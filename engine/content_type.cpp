// The content type through libmagic. A magic_t is not safe to use from
// two threads at once, and loading its database takes about a millisecond,
// so every worker thread loads one of its own, once, and closes it when the
// thread ends; the scan takes no lock for a type. Each stream costs two
// lookups (description, then MIME type) on its first kContentPrefixBytes:
// from 0.15 ms for a binary to about 4 ms for 64 KiB of text, whose
// encoding and language checks read every byte.
#include "engine/content_type.h"

#ifdef QUARN_HAVE_LIBMAGIC
#include <magic.h>

#include "util/platform/thread_exit.h"
#endif

namespace quarn {

#ifdef QUARN_HAVE_LIBMAGIC
namespace {

// A handle with its database loaded, or null when loading failed (with
// libmagic's reason in `why`).
magic_t OpenMagic(std::string* why) {
  magic_t magic = magic_open(MAGIC_NONE);
  if (magic == nullptr) {
    if (why != nullptr) *why = "libmagic could not be started";
    return nullptr;
  }
  if (magic_load(magic, nullptr) != 0) {
    if (why != nullptr) {
      const char* error = magic_error(magic);
      *why = std::string("libmagic could not load its database: ") + (error != nullptr ? error : "no reason given");
    }
    magic_close(magic);
    return nullptr;
  }
  return magic;
}

// The calling thread's handle; null when it cannot be loaded (tried once).
magic_t ThreadMagic() {
  // A plain pointer: see util/platform/thread_exit.h on thread_local objects.
  thread_local magic_t magic = nullptr;
  thread_local bool tried = false;
  if (!tried) {
    tried = true;
    magic = OpenMagic(nullptr);
    auto close = [](void* handle) { magic_close(static_cast<magic_t>(handle)); };
    if (magic != nullptr) platform::AtThreadExit(close, magic);
  }
  return magic;
}

// libmagic's answer under `flags`; empty when it has none.
std::string LookUp(magic_t magic, int flags, const uint8_t* bytes, std::size_t count) {
  if (magic_setflags(magic, flags) != 0) return {};
  const char* text = magic_buffer(magic, bytes, count);
  return text != nullptr ? std::string(text) : std::string();
}

}  // namespace

bool ContentTypesAvailable(std::string* why) {
  magic_t magic = OpenMagic(why);
  if (magic == nullptr) return false;
  magic_close(magic);
  return true;
}

std::shared_ptr<const TContentType> ContentTypeOf(const uint8_t* bytes, std::size_t count) {
  magic_t magic = ThreadMagic();
  if (magic == nullptr) return nullptr;
  TContentType type;
  type.Description = LookUp(magic, MAGIC_NONE, bytes, count);
  type.Mime = LookUp(magic, MAGIC_MIME_TYPE, bytes, count);
  if (type.Description.empty() && type.Mime.empty()) return nullptr;
  return std::make_shared<const TContentType>(std::move(type));
}

#else

bool ContentTypesAvailable(std::string* why) {
  if (why != nullptr) *why = "this build has no libmagic";
  return false;
}

std::shared_ptr<const TContentType> ContentTypeOf(const uint8_t*, std::size_t) { return nullptr; }

#endif

}  // namespace quarn
