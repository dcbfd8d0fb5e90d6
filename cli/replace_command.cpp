// The text of --replace. The new data is read whole: it is compressed in
// one piece, as the encoders' one-call forms take it.
#include "cli/replace_command.h"

#include <span>
#include <string>

#include "cli/name_text.h"
#include "cli/output.h"
#include "engine/stream_replacement.h"
#include "util/mapped_file.h"

namespace quarn::cli {

void RunReplaceCommand(const TCommandLine& options) {
  const TMappedFile data(options.ReplaceFile);
  const std::span<const uint8_t> bytes(data.Memory(), static_cast<std::size_t>(data.Size()));
  const TReplacement done = ReplaceStreamInFile(options.Paths[0], options.ReplaceOffset, bytes, options.OutputPath);
  if (data.ChangedWhileMapped()) throw TFileChangedError(options.ReplaceFile);

  const std::string offset = std::to_string(options.ReplaceOffset);
  const uint64_t leftBytes = done.PlaceBytes - done.NewBytes;
  std::string text = "Replaced the " + std::string(done.Stream.HasHeader ? "zlib" : "raw deflate") +
                     " stream at offset " + offset + " with the " + std::to_string(bytes.size()) + " bytes of " +
                     EscapeName(options.ReplaceFile) + ", compressed by " + SettingsLabel(done.Settings) +
                     (done.OwnSettings ? " (the stream's own settings)" : "") + ": " +
                     std::to_string(done.NewBytes) + " of its " + std::to_string(done.PlaceBytes) + " bytes" +
                     (done.Stream.HasHeader ? " (CINFO kept, new FLEVEL and Adler-32)" : "") + "; the " +
                     std::to_string(leftBytes) + " bytes after them are as they were.\n";
  text += "Wrote " + EscapeName(options.OutputPath) + "; its stream at offset " + offset + " inflates to exactly " +
          std::to_string(bytes.size()) + " bytes of the new data.\n";
  if (done.Container) {
    const std::string note = ContainerRecordsNote(*done.Container);
    if (!note.empty()) text += note + "\n";
  }
  WriteOut(text);
  FlushOut();
}

}  // namespace quarn::cli
