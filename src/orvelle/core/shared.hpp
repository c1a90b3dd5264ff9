#pragma once
/// File helpers shared by the commands.
///
///   orvelle::write_file_atomic("out.json", text);   // all or nothing
///   orvelle::write_file_atomic("out.json", [&](std::ostream& out) { write_json(out, nets); });
///   orvelle::print_to_file("stdout", text);         // standard output

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace orvelle {

struct AtomicWriteOptions {
  /// Permission bits of the written file. Unset: an existing file keeps its mode, a new one
  /// gets 0666 less the umask, as an ordinary open would give it.
  std::optional<mode_t> mode;
  /// The system call that writes bytes; tests replace it to simulate a full disk.
  std::function<ssize_t(int fd, const void* data, std::size_t size)> write = nullptr;
};

/// Writes `text` to `path` so that readers see the old content or the new, never a mix:
/// a temporary file in the same folder, flushed to disk, then renamed over the target.
/// A symbolic link is followed and its target replaced, so the link survives. A path that
/// exists but is no regular file (/dev/null, a pipe, a terminal) is written directly.
/// On failure the old file is left as it was, no temporary file remains, and a
/// std::system_error names the path.
void write_file_atomic(const std::filesystem::path& path, std::string_view text,
                       const AtomicWriteOptions& options = {});

/// The same for a text made in pieces: what `produce` writes to the stream it is given goes
/// to the temporary file in blocks as it comes, so the text is never held whole. A write
/// that fails throws the std::system_error out of `produce`.
void write_file_atomic(const std::filesystem::path& path,
                       const std::function<void(std::ostream&)>& produce,
                       const AtomicWriteOptions& options = {});

/// Writes `text` to standard output when `outpath` is "stdout" (with a final line break),
/// else atomically to the file `outpath` (as is).
void print_to_file(const std::string& outpath, std::string_view text);

}  // namespace orvelle
