#include "platform/files/file_path.h"

#include <filesystem>
#include <system_error>

namespace qlt {

namespace fs = std::filesystem;

Error invalidFilenameError(std::string_view path, std::string_view reason) {
  Error error(kCocoaErrorDomain, kCocoaFileWriteInvalidFileNameError,
              "The name “" + std::string(path) + "” can’t be used: " + std::string(reason) + ".");
  error.setUserInfoValue(kFilePathErrorKey, std::string(path));
  return error;
}

namespace {

std::string_view withoutTrailingSlashes(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return path;
}

// The position in `path` (already without trailing slashes) where the
// extension's dot of the last component is, or npos.
size_t extensionDot(std::string_view path) {
  size_t componentStart = path.rfind('/');
  componentStart = componentStart == std::string_view::npos ? 0 : componentStart + 1;
  size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot <= componentStart || dot + 1 == path.size()) return std::string_view::npos;
  return dot;
}

std::string absoluteStandardized(std::string_view path) {
  std::error_code ignored;
  fs::path absolute = fs::absolute(fs::path(path), ignored);
  return standardizingPath(absolute.native());
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

}  // namespace

std::string appendingPathComponent(std::string_view path, std::string_view component) {
  while (!component.empty() && component.front() == '/') component.remove_prefix(1);
  std::string result(path);
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  if (component.empty()) return result;
  if (!result.empty() && result.back() != '/') result += '/';
  result += component;
  return result;
}

std::string lastPathComponent(std::string_view path) {
  path = withoutTrailingSlashes(path);
  if (path == "/") return "/";
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string deletingLastPathComponent(std::string_view path) {
  path = withoutTrailingSlashes(path);
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  if (slash == 0) return "/";
  return std::string(withoutTrailingSlashes(path.substr(0, slash)));
}

std::string pathExtension(std::string_view path) {
  path = withoutTrailingSlashes(path);
  size_t dot = extensionDot(path);
  return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot + 1));
}

std::string deletingPathExtension(std::string_view path) {
  path = withoutTrailingSlashes(path);
  size_t dot = extensionDot(path);
  return std::string(dot == std::string_view::npos ? path : path.substr(0, dot));
}

std::string appendingPathExtension(std::string_view path, std::string_view extension) {
  std::string result(withoutTrailingSlashes(path));
  if (extension.empty() || result.empty() || result == "/") return result;
  return result + "." + std::string(extension);
}

std::string standardizingPath(std::string_view path) {
  if (path.empty()) return {};
  std::string result = fs::path(path).lexically_normal().native();
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result.empty() ? "." : result;
}

bool isValidFilename(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.size() <= 255 &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

bool isDescendant(std::string_view path, std::string_view directory) {
  std::string inner = absoluteStandardized(path);
  std::string outer = absoluteStandardized(directory);
  if (outer == "/") return inner.size() > 1;
  return inner.size() > outer.size() + 1 && inner.compare(0, outer.size(), outer) == 0 && inner[outer.size()] == '/';
}

std::optional<std::string> pathInside(std::string_view directory, std::string_view relativePath, Error* error) {
  if (relativePath.find('\0') != std::string_view::npos) {
    setError(error, invalidFilenameError(relativePath, "it contains a NUL character"));
    return std::nullopt;
  }
  if (!relativePath.empty() && relativePath.front() == '/') {
    setError(error, invalidFilenameError(relativePath, "it is an absolute path"));
    return std::nullopt;
  }
  std::string joined = appendingPathComponent(directory, relativePath);
  if (!isDescendant(joined, directory)) {
    setError(error, invalidFilenameError(relativePath, "it leads outside its folder"));
    return std::nullopt;
  }
  return standardizingPath(joined);
}

std::string fileURLFromPath(std::string_view path, bool isDirectory) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string absolute = absoluteStandardized(path);
  std::string url = "file://";
  for (unsigned char c : absolute) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 std::string_view("-._~/!$&'()*+,;=:@").find(static_cast<char>(c)) != std::string_view::npos;
    if (plain) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0xF];
    }
  }
  if (isDirectory && url.back() != '/') url += '/';
  return url;
}

std::optional<std::string> pathFromFileURL(std::string_view url, Error* error) {
  auto refuse = [&](const char* reason) {
    Error failure(kCocoaErrorDomain, kCocoaFileReadInvalidFileNameError,
                  "“" + std::string(url) + "” is not a file URL: " + reason + ".");
    failure.setUserInfoValue(kURLErrorKey, std::string(url));
    setError(error, std::move(failure));
    return std::nullopt;
  };
  if (!startsWithIgnoringCase(url, "file://")) return refuse("the scheme is not file");
  std::string_view rest = url.substr(7);
  rest = rest.substr(0, rest.find_first_of("?#"));
  size_t pathStart = rest.find('/');
  if (pathStart == std::string_view::npos) return refuse("it has no path");
  std::string_view host = rest.substr(0, pathStart);
  if (!host.empty() && !startsWithIgnoringCase(host, "localhost")) return refuse("it names another host");
  if (host.size() > 9) return refuse("it names another host");
  std::string path;
  for (size_t i = pathStart; i < rest.size(); ++i) {
    if (rest[i] != '%') {
      path += rest[i];
      continue;
    }
    int high = i + 2 < rest.size() ? hexValue(rest[i + 1]) : -1;
    int low = i + 2 < rest.size() ? hexValue(rest[i + 2]) : -1;
    if (high < 0 || low < 0) return refuse("it has a malformed percent escape");
    if (high == 0 && low == 0) return refuse("it contains a NUL character");
    path += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return std::string(withoutTrailingSlashes(path));
}

bool isContainedLinkDestination(std::string_view destination) {
  if (destination.empty() || destination.front() == '/' || destination.find('\0') != std::string_view::npos)
    return false;
  for (size_t start = 0; start <= destination.size();) {
    size_t end = destination.find('/', start);
    if (end == std::string_view::npos) end = destination.size();
    if (destination.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

}  // namespace qlt
