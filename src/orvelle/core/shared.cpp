#include "orvelle/core/shared.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <streambuf>
#include <system_error>
#include <vector>

namespace orvelle {

namespace {

[[noreturn]] void fail(const std::filesystem::path& path, int error) {
  throw std::system_error(error, std::generic_category(), "cannot write " + path.string());
}

void write_all(int fd, std::string_view text, const AtomicWriteOptions& options,
               const std::filesystem::path& path) {
  const auto write = options.write ? options.write : [](int f, const void* d, std::size_t n) {
    return ::write(f, d, n);
  };
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) fail(path, written < 0 ? errno : EIO);
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

// Passes what a stream writes on to a file in blocks.
class FileBuffer final : public std::streambuf {
 public:
  FileBuffer(int fd, const AtomicWriteOptions& options, const std::filesystem::path& path)
      : fd_(fd), options_(options), path_(path), block_(kBlock) {
    setp(block_.data(), block_.data() + block_.size());
  }

 protected:
  int_type overflow(int_type c) override {
    pass_on();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  // A piece larger than the block goes on at once, not through the block.
  std::streamsize xsputn(const char* data, std::streamsize n) override {
    if (n < static_cast<std::streamsize>(block_.size())) return std::streambuf::xsputn(data, n);
    pass_on();
    write_all(fd_, std::string_view(data, static_cast<std::size_t>(n)), options_, path_);
    return n;
  }
  int sync() override {
    pass_on();
    return 0;
  }

 private:
  static constexpr std::size_t kBlock = std::size_t{1} << 16;

  void pass_on() {
    write_all(fd_, std::string_view(pbase(), static_cast<std::size_t>(pptr() - pbase())), options_,
              path_);
    setp(block_.data(), block_.data() + block_.size());
  }

  int fd_;
  const AtomicWriteOptions& options_;
  const std::filesystem::path& path_;
  std::vector<char> block_;
};

using Produce = std::function<void(std::ostream&)>;

// A failed write rethrows its own error out of the stream, not a generic one.
void write_produced(int fd, const Produce& produce, const AtomicWriteOptions& options,
                    const std::filesystem::path& path) {
  FileBuffer buffer(fd, options, path);
  std::ostream out(&buffer);
  out.exceptions(std::ios::badbit);
  produce(out);
  out.flush();
}

// Writes through an existing special file (device, pipe, terminal), where rename makes no sense.
void write_directly(const std::filesystem::path& path, const Produce& produce,
                    const AtomicWriteOptions& options) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) fail(path, errno);
  try {
    write_produced(fd, produce, options, path);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) fail(path, errno);
}

mode_t default_mode(const std::filesystem::path& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void write_file_atomic(const std::filesystem::path& path, std::string_view text,
                       const AtomicWriteOptions& options) {
  write_file_atomic(
      path,
      [text](std::ostream& out) {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
      },
      options);
}

void write_file_atomic(const std::filesystem::path& path, const Produce& produce,
                       const AtomicWriteOptions& options) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    if (std::filesystem::is_directory(status)) fail(path, EISDIR);
    return write_directly(path, produce, options);
  }
  // Replace the file a link points to, not the link itself.
  std::filesystem::path target = path;
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) {
    target = std::filesystem::weakly_canonical(path, ec);
    if (ec) fail(path, ec.value());
  }
  const auto folder = target.has_parent_path() ? target.parent_path() : ".";
  // A hidden sibling, so the rename stays on one file system and so atomic.
  std::string temp_name = target.filename().string();
  temp_name.insert(0, 1, '.').append(".tmp-XXXXXX");
  std::string temp = (folder / temp_name).string();
  int fd = ::mkstemp(temp.data());
  if (fd < 0) fail(path, errno);
  try {
    if (::fchmod(fd, options.mode.value_or(default_mode(target))) != 0) fail(path, errno);
    write_produced(fd, produce, options, path);
    if (::fsync(fd) != 0) fail(path, errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) fail(path, errno);
    if (::rename(temp.c_str(), target.c_str()) != 0) fail(path, errno);
  } catch (...) {
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
}

void print_to_file(const std::string& outpath, std::string_view text) {
  if (outpath == "stdout") {
    std::cout << text;
    if (text.empty() || text.back() != '\n') std::cout << '\n';
    std::cout.flush();
    if (!std::cout) throw std::runtime_error("cannot write to standard output");
    return;
  }
  write_file_atomic(outpath, text);
}

}  // namespace orvelle
