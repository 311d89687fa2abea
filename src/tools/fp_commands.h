#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/fp_session.h"

namespace qlt::tool {

// Each command prints its JSON lines and returns the process's exit status.

struct ListOptions {
  std::string container;
  int64_t pageSize = 200;
  std::optional<std::string> page;
  bool byDate = false;
  bool byName = false;
};
int listCommand(const CommonOptions& common, const ListOptions& options);
int listAllCommand(const CommonOptions& common, const ListOptions& options);

struct ChangesOptions {
  std::string container;
  std::optional<std::string> anchor;
  int64_t batchSize = 200;
};
int changesCommand(const CommonOptions& common, const ChangesOptions& options);
int anchorCommand(const CommonOptions& common);

int itemCommand(const CommonOptions& common, const std::string& identifier);
int fetchCommand(const CommonOptions& common, const std::string& identifier, const std::optional<std::string>& to);
int serviceSourcesCommand(const CommonOptions& common, const std::string& identifier);
int deleteCommand(const CommonOptions& common, const std::string& identifier, bool recursive);

struct CreateOptions {
  std::string parent;
  std::string name;
  std::optional<std::string> from;
  bool folder = false;
  bool mayExist = false;
  std::optional<std::string> tags;
  std::vector<std::string> xattrs;
  std::optional<std::string> created;
  std::optional<std::string> modified;
};
int createCommand(const CommonOptions& common, const CreateOptions& options);

struct ModifyOptions {
  std::string identifier;
  std::optional<std::string> name;
  std::optional<std::string> parent;
  std::optional<std::string> contents;
  std::optional<std::string> tags;
  std::vector<std::string> xattrs;
  std::optional<std::string> modified;
  bool mayExist = false;
};
// Prints {"modified":descriptor,"pendingFields":n}; on failure the error
// with "pendingFields".
int modifyCommand(const CommonOptions& common, const ModifyOptions& options);

// The host application's changes, made in the library manager's view
// context. `folder` names a container as containerIdentifier() reads it.
int hostRenameCommand(const CommonOptions& common, const std::string& identifier, const std::string& name);
int hostMoveCommand(const CommonOptions& common, const std::string& identifier, const std::string& folder);
// Into the trash folder, or out of it into the root folder.
int hostTrashCommand(const CommonOptions& common, const std::string& identifier, bool intoTrash);
int hostDeleteCommand(const CommonOptions& common, const std::string& identifier);
// The host application's own import paths; `folder` as for hostMoveCommand
// (empty: the root).
int hostImportCommand(const CommonOptions& common, const std::string& path, const std::string& folder);
int hostNoteCommand(const CommonOptions& common, const std::string& text, const std::string& folder);
int hostWebLinkCommand(const CommonOptions& common, const std::string& url, const std::string& folder);
// The item's file gets the contents of `source`, as an edit in the host
// application (new modification date and size).
int hostReplaceCommand(const CommonOptions& common, const std::string& identifier, const std::string& source);

int serveCommand(const CommonOptions& common);
// Answers the host application on the service socket until
// `stopDescriptor` becomes readable.
[[nodiscard]] bool serveHostApplication(FileProviderExtension& extension, int stopDescriptor, Error* error = nullptr);

struct MountCommandOptions {
  std::string mountPoint;  // empty: ~/Quillet
  bool foreground = false;
  bool debug = false;
};
int mountCommand(const CommonOptions& common, const MountCommandOptions& options);
// ~/Quillet
std::string defaultMountPoint();

// Item links: `link` prints an item's link; `open` resolves a link to the
// item's path in the mount (or its library file when nothing is mounted
// there) and with `open` hands that path to xdg-open.
int linkCommand(const CommonOptions& common, const std::string& identifier, const std::optional<std::string>& from);
struct OpenOptions {
  std::string link;
  std::string mountPoint;  // empty: ~/Quillet
  bool open = false;
};
int openCommand(const CommonOptions& common, const OpenOptions& options);
int materializeCommand(const CommonOptions& common, const std::string& path);
int reimportCommand(const CommonOptions& common, const std::string& identifier);

struct SeedOptions {
  int64_t folders = 0;
  int64_t items = 0;
  int64_t depth = 1;
  int64_t fileSize = 0;
};
int seedCommand(const CommonOptions& common, const SeedOptions& options);

int statusCommand(const CommonOptions& common);

struct SyncOptions {
  int64_t watchSeconds = 0;  // 0: once
};
// Fetches and applies the cloud's changes, then sends pending change sets.
int syncCommand(const CommonOptions& common, const SyncOptions& options);
// Syncs the extension's library, printing a line each time, every
// `interval` until `stopDescriptor` becomes readable; whether the last
// sync succeeded.
bool syncRepeatedly(FileProviderExtension& extension, int stopDescriptor, std::chrono::seconds interval);

// Notes (.qltnote), RTF, RTFD, plain text and Markdown files.
int textReadCommand(const std::string& path);
int textConvertCommand(const std::string& source, const std::string& destination);
int textAppendCommand(const std::string& path, const std::optional<std::string>& text,
                      const std::optional<std::string>& attachment);
struct SearchCommandOptions {
  std::string text;
  std::vector<std::string> fields;   // empty: the default fields
  std::vector<std::string> options;  // KIND:VALUE
  std::optional<std::string> in;     // a group's identifier; none: the library group
  std::optional<std::string> sort;   // KEY[:asc|desc]
  bool matchAny = false;
  int64_t limit = 0;  // 0: every match
};
// Prints the descriptors of the items a live search group finds, in order.
int searchCommand(const CommonOptions& common, const SearchCommandOptions& options);
// One line per group of the library that is not a folder: identifier,
// kind, name, group type and item count.
int groupsCommand(const CommonOptions& common);

// "root", "trash" and "working-set" name the three service containers;
// anything else is used as given.
std::string containerIdentifier(const std::string& name);

}  // namespace qlt::tool
