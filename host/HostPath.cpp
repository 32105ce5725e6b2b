// Windows-style paths on the host file system, as Wine maps them.
#include "host/HostPath.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "base/Ascii.h"
#include "base/UniqueDir.h"

namespace velmora {
namespace {

bool EntryExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}


// The entry of `dir` that equals `name` ignoring ASCII case; the smallest in byte order when
// several do, so that the choice does not depend on the directory's order. Empty when none.
std::string FindNoCase(const std::string& dir, std::string_view name) {
  const TDir d = OpenDir(dir.empty() ? std::string(".") : dir);
  if (!d) return {};
  std::string best;
  while (const dirent* e = ::readdir(d.get())) {
    const std::string_view entry(e->d_name);
    if (EqualNoCase(entry, name) && (best.empty() || entry < best)) best = entry;
  }
  return best;
}

class TCaseWalker {
public:
  explicit TCaseWalker(std::string root) : out_(std::move(root)) {}

  void Add(std::string_view comp) {
    if (comp.empty()) return;
    std::string candidate = Joined(comp);
    if (!missing_ && comp != "." && comp != "..") {
      if (!EntryExists(candidate)) {
        const std::string match = FindNoCase(out_, comp);
        if (match.empty()) {
          missing_ = true;  // nothing below a missing component can exist
        } else {
          candidate = Joined(match);
        }
      }
    }
    out_ = std::move(candidate);
  }
  void TrailingSlash() {
    if (!out_.empty() && out_.back() != '/') out_.push_back('/');
  }
  std::string Take() { return std::move(out_); }

private:
  std::string Joined(std::string_view comp) const {
    std::string s = out_;
    if (!s.empty() && s.back() != '/') s.push_back('/');
    s.append(comp);
    return s;
  }
  std::string out_;
  bool missing_ = false;
};


}  // namespace

std::string MapWindowsPath(std::string_view winPath, std::string_view winePrefix) {
  if (winPath.empty()) return {};
  std::string p(winPath);
  for (char& c : p)
    if (c == '\\') c = '/';

  std::string root;
  std::string_view rest = p;
  if (p.size() >= 2 && IsAsciiLetter(p[0]) && p[1] == ':') {
    root = std::string(winePrefix) + "/dosdevices/";
    root.push_back(static_cast<char>(p[0] | 0x20));  // Wine names the drive links in lower case
    root.push_back(':');
    rest.remove_prefix(2);
    while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  } else if (p[0] == '/') {
    root = "/";
    while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  }

  std::string exact = root;
  if (!exact.empty() && exact.back() != '/' && !rest.empty()) exact.push_back('/');
  exact.append(rest);
  if (EntryExists(exact)) return exact;

  TCaseWalker walker(root);
  std::size_t pos = 0;
  while (pos <= rest.size()) {
    const std::size_t slash = rest.find('/', pos);
    if (slash == std::string_view::npos) {
      walker.Add(rest.substr(pos));
      break;
    }
    walker.Add(rest.substr(pos, slash - pos));
    pos = slash + 1;
    if (pos == rest.size()) walker.TrailingSlash();
  }
  return walker.Take();
}

}  // namespace velmora
