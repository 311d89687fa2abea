// quillet-fp: stands in for the operating system's file-provider service.
// It starts the extension for a domain, sends it the service's requests and
// prints the answers as JSON, one object per line; failures print a JSON
// error on standard error and exit non-zero.
#include <CLI/CLI.hpp>

#include "tools/fp_commands.h"

namespace {

using namespace qlt::tool;

CLI::App* command(CLI::App& app, const char* name, const char* description, CommonOptions& common) {
  CLI::App* sub = app.add_subcommand(name, description);
  sub->add_option("--domain", common.domain, "File-provider domain identifier")->capture_default_str();
  sub->add_option("--group-container", common.groupContainer, "Application-group container folder");
  return sub;
}

const char* kContainerHelp =
    "Container: root, trash, working-set, or a folder's file-provider identifier (\"Folder|<identifier>\")";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Quillet file provider: the file-provider service's requests from the command line"};
  app.require_subcommand(1);
  CommonOptions common;

  auto status = command(app, "status", "Report what the extension sees", common);

  ListOptions list;
  auto listPage = command(app, "list", "List one page: {\"items\":[descriptors],\"nextPage\":token or null}", common);
  auto listAll = command(app, "list-all",
                         "Follow the pages to the end: one line per page {\"page\":n,\"items\":[...],\"nextPage\":...}, "
                         "then {\"summary\":{\"pages\":n,\"items\":m}}",
                         common);
  for (CLI::App* sub : {listPage, listAll}) {
    sub->add_option("container", list.container, kContainerHelp)->required();
    sub->add_option("--page-size", list.pageSize, "Suggested page size")->capture_default_str();
    auto page = sub->add_option("--page", list.page, "Start at a page token as printed by nextPage (JSON text)");
    auto byDate = sub->add_flag("--by-date", list.byDate, "Start at the initial page sorted by date");
    auto byName = sub->add_flag("--by-name", list.byName, "Start at the initial page sorted by name");
    page->excludes(byDate)->excludes(byName);
    byDate->excludes(byName);
  }

  ChangesOptions changes;
  auto changesCommandApp = command(
      app, "changes",
      "Changes since an anchor, one line per batch until moreComing is false: "
      "{\"updated\":[descriptors],\"deleted\":[ids],\"anchor\":base64,\"moreComing\":bool}; adopt the last "
      "line's anchor",
      common);
  changesCommandApp->add_option("container", changes.container, kContainerHelp)->required();
  changesCommandApp->add_option("--anchor", changes.anchor, "Sync anchor in base 64, as printed by anchor/changes");
  changesCommandApp->add_option("--batch-size", changes.batchSize, "Suggested batch size")->capture_default_str();

  auto anchor = command(app, "anchor", "The working set's current sync anchor: {\"anchor\":base64 or null}", common);

  std::string identifier;
  auto item = command(app, "item", "The descriptor of an item or folder", common);
  item->add_option("identifier", identifier, "File-provider identifier")->required();
  std::optional<std::string> to;
  auto fetch = command(app, "fetch", "Fetch an item's contents: {\"item\":descriptor,\"contents\":path}", common);
  fetch->add_option("identifier", identifier, "File-provider identifier")->required();
  fetch->add_option("--to", to, "Copy the contents to this path");
  auto sources = command(app, "service-sources", "The service sources offered for an item", common);
  sources->add_option("identifier", identifier, "File-provider identifier")->required();

  CreateOptions create;
  auto createApp = command(app, "create",
                           "Create a folder or item from a template: {\"created\":descriptor or null}", common);
  createApp->add_option("parent", create.parent, kContainerHelp)->required();
  createApp->add_option("--name", create.name, "The new item's filename")->required();
  auto from = createApp->add_option("--from", create.from, "Contents: a copy of this file is staged");
  auto folderFlag = createApp->add_flag("--folder", create.folder, "Create a folder");
  from->excludes(folderFlag);
  createApp->add_flag("--may-exist", create.mayExist, "Return an existing item of that name instead");
  createApp->add_option("--tags", create.tags, "Tag names, separated by commas");
  createApp->add_option("--xattr", create.xattrs, "Extended attribute KEY=VALUE (repeatable)");
  createApp->add_option("--created", create.created, "Creation date (ISO 8601)");
  createApp->add_option("--modified", create.modified, "Modification date (ISO 8601)");

  ModifyOptions modify;
  auto modifyApp = command(app, "modify",
                           "Change an item or folder: {\"modified\":descriptor,\"pendingFields\":n}", common);
  modifyApp->add_option("identifier", modify.identifier, "File-provider identifier")->required();
  modifyApp->add_option("--name", modify.name, "New filename");
  modifyApp->add_option("--parent", modify.parent, kContainerHelp);
  modifyApp->add_option("--contents", modify.contents, "New contents: a copy of this file is staged");
  modifyApp->add_option("--tags", modify.tags, "Tag names, separated by commas (empty: none)");
  modifyApp->add_option("--xattr", modify.xattrs, "Extended attribute KEY=VALUE (repeatable)");
  modifyApp->add_option("--modified", modify.modified, "Modification date (ISO 8601)");
  modifyApp->add_flag("--may-exist", modify.mayExist, "Resolve a name clash with a numbered name");

  bool recursive = false;
  auto remove = command(app, "delete", "Delete an item or folder: {\"deleted\":id,\"recursive\":bool}", common);
  remove->add_option("identifier", identifier, "File-provider identifier")->required();
  remove->add_flag("--recursive", recursive, "Delete a folder with its contents");

  auto host = app.add_subcommand("host",
                                 "Change the library as the host application does (its saves are stamped, kept in "
                                 "the history and announced to other processes); prints what changed");
  host->require_subcommand(1);
  std::string name;
  auto hostRename = command(*host, "rename", "Rename an item or folder", common);
  hostRename->add_option("identifier", identifier, "File-provider identifier")->required();
  hostRename->add_option("name", name, "New name")->required();
  auto hostMove = command(*host, "move", "Move an item or folder into another folder", common);
  hostMove->add_option("identifier", identifier, "File-provider identifier")->required();
  hostMove->add_option("folder", name, kContainerHelp)->required();
  auto hostTrash = command(*host, "trash", "Move an item or folder into the trash", common);
  hostTrash->add_option("identifier", identifier, "File-provider identifier")->required();
  auto hostUntrash = command(*host, "untrash", "Move an item or folder out of the trash into the root", common);
  hostUntrash->add_option("identifier", identifier, "File-provider identifier")->required();
  std::string hostFolder;
  auto hostImport = command(*host, "import", "Import a copy of a file: {\"created\":item}", common);
  hostImport->add_option("file", name, "The file to import")->required();
  auto hostNote = command(*host, "note", "Make a note holding a text: {\"created\":item}", common);
  hostNote->add_option("text", name, "The note's text")->required();
  auto hostWebLink = command(*host, "weblink", "Make a web link: {\"created\":item}", common);
  hostWebLink->add_option("url", name, "The web address")->required();
  for (CLI::App* sub : {hostImport, hostNote, hostWebLink})
    sub->add_option("--folder", hostFolder, kContainerHelp);
  auto hostDelete = command(*host, "delete",
                            "Delete an item or folder and leave its deletion for the service's change enumeration",
                            common);
  hostDelete->add_option("identifier", identifier, "File-provider identifier")->required();
  auto hostReplace = command(*host, "replace", "Replace an item's contents with a copy of a file", common);
  hostReplace->add_option("identifier", identifier, "File-provider identifier")->required();
  hostReplace->add_option("source", name, "The file whose contents the item takes")->required();

  auto serve = command(app, "serve",
                       "Run the extension and serve the host application on \"<group container>/"
                       "com.quillet-FileProvider.sock\" until SIGINT or SIGTERM",
                       common);
  std::string path;
  auto materialize = command(app, "materialize", "Ask the serving extension to materialize a file", common);
  materialize->add_option("path", path, "File path inside the domain")->required();
  auto reimport = command(app, "reimport", "Ask the serving extension to reimport below an item", common);
  reimport->add_option("identifier", identifier, "File-provider identifier")->required();

  MountCommandOptions mountOptions;
  auto mount = command(app, "mount",
                       "Mount the domain as a folder tree (FUSE) at MOUNTPOINT (default ~/Quillet) until "
                       "fusermount3 -u, SIGINT or SIGTERM",
                       common);
  mount->add_option("mountpoint", mountOptions.mountPoint, "Where to mount (created when missing)");
  mount->add_flag("--foreground", mountOptions.foreground, "Stay in the foreground");
  mount->add_flag("--debug", mountOptions.debug, "Log every FUSE request (with --foreground)");

  SeedOptions seedOptions;
  auto seed = command(app, "seed", "Fill the library with generated folders and items with files", common);
  seed->add_option("--folders", seedOptions.folders, "Number of folders")->capture_default_str();
  seed->add_option("--items", seedOptions.items, "Number of items")->capture_default_str();
  seed->add_option("--depth", seedOptions.depth, "Folders nest in chains this deep")->capture_default_str();
  seed->add_option("--file-size", seedOptions.fileSize, "Bytes in each item's file")->capture_default_str();

  std::string textPath, textDestination;
  std::optional<std::string> appendText, appendAttachment;
  auto textRead = app.add_subcommand(
      "text-read", "Read a note, RTF, RTFD, plain-text or Markdown file: {\"type\",\"text\",\"attachments\",\"tags\"}");
  textRead->add_option("path", textPath, "The file")->required();
  auto textConvert = app.add_subcommand(
      "text-convert", "Convert between notes (.qltnote), .rtf, .rtfd, .txt and .md: {\"written\":path}");
  textConvert->add_option("source", textPath, "The file to read")->required();
  textConvert->add_option("destination", textDestination, "The file to write; its extension picks the format")
      ->required();
  auto textAppend = app.add_subcommand("text-append", "Append text or an attachment to a file and write it back");
  textAppend->add_option("path", textPath, "The file")->required();
  textAppend->add_option("--text", appendText, "Text to append");
  textAppend->add_option("--attachment", appendAttachment, "A file to append as an attachment");


  SyncOptions syncOptions;
  auto sync = command(app, "sync",
                      "Apply the cloud's changes to the library and send its pending changes: {\"synced\":{...}}",
                      common);
  sync->add_option("--watch", syncOptions.watchSeconds, "Sync again every N seconds until interrupted");

  SearchCommandOptions searchOptions;
  auto search = command(app, "search", "Run a live search group over the library: one item descriptor a line, in order",
                        common);
  search->add_option("text", searchOptions.text, "Text to look for; KEY:VALUE searches one field");
  search->add_option("--fields", searchOptions.fields, "Fields the text is matched against: name, comments, source, "
                                                        "contents, tags, labels")
      ->delimiter(',');
  search->add_option("--option", searchOptions.options,
                     "A condition KIND:VALUE (name:*report*, tag:work, modified:2026-03-03, modified:7d, "
                     "favorite:yes, size:>1000, tags: for untagged items); repeatable");
  search->add_option("--in", searchOptions.in, "Identifier of the group to search in (default: All Items)");
  search->add_option("--sort", searchOptions.sort, "KEY[:desc] among name, dateAdded, dateCreated, dateModified, "
                                                   "label, size");
  search->add_flag("--any", searchOptions.matchAny, "Match any option or the text rather than all of them");
  search->add_option("--limit", searchOptions.limit, "At most this many items (0: all)")->capture_default_str();
  auto groups = command(app, "groups", "List the library's groups (folders aside) with their kinds and item counts",
                        common);

  std::optional<std::string> linkFrom;
  auto link = command(app, "link", "An item's link: {\"item\":identifier,\"link\":\"quillet://link?item=...\"}", common);
  link->add_option("identifier", identifier, "Item identifier or file-provider identifier")->required();
  link->add_option("--from", linkFrom, "Identifier of the item the link is placed in");
  OpenOptions openOptions;
  auto open = command(app, "open",
                      "Resolve an item link: {\"item\",\"path\" (in the mount, else the library's file),\"mounted\"}",
                      common);
  open->add_option("link", openOptions.link, "quillet://link?item=...")->required();
  open->add_option("--mount-point", openOptions.mountPoint, "Where the library is mounted (default ~/Quillet)");
  open->add_flag("--open", openOptions.open, "Open the item with xdg-open");

  CLI11_PARSE(app, argc, argv);
  if (link->parsed()) return linkCommand(common, identifier, linkFrom);
  if (open->parsed()) return openCommand(common, openOptions);
  if (textRead->parsed()) return textReadCommand(textPath);
  if (textConvert->parsed()) return textConvertCommand(textPath, textDestination);
  if (textAppend->parsed()) return textAppendCommand(textPath, appendText, appendAttachment);
  if (search->parsed()) return searchCommand(common, searchOptions);
  if (groups->parsed()) return groupsCommand(common);
  if (status->parsed()) return statusCommand(common);
  if (listPage->parsed()) return listCommand(common, list);
  if (listAll->parsed()) return listAllCommand(common, list);
  if (changesCommandApp->parsed()) return changesCommand(common, changes);
  if (anchor->parsed()) return anchorCommand(common);
  if (item->parsed()) return itemCommand(common, identifier);
  if (fetch->parsed()) return fetchCommand(common, identifier, to);
  if (sources->parsed()) return serviceSourcesCommand(common, identifier);
  if (remove->parsed()) return deleteCommand(common, identifier, recursive);
  if (createApp->parsed()) return createCommand(common, create);
  if (modifyApp->parsed()) return modifyCommand(common, modify);
  if (hostRename->parsed()) return hostRenameCommand(common, identifier, name);
  if (hostMove->parsed()) return hostMoveCommand(common, identifier, name);
  if (hostTrash->parsed()) return hostTrashCommand(common, identifier, true);
  if (hostUntrash->parsed()) return hostTrashCommand(common, identifier, false);
  if (hostDelete->parsed()) return hostDeleteCommand(common, identifier);
  if (hostImport->parsed()) return hostImportCommand(common, name, hostFolder);
  if (hostNote->parsed()) return hostNoteCommand(common, name, hostFolder);
  if (hostWebLink->parsed()) return hostWebLinkCommand(common, name, hostFolder);
  if (hostReplace->parsed()) return hostReplaceCommand(common, identifier, name);
  if (serve->parsed()) return serveCommand(common);
  if (materialize->parsed()) return materializeCommand(common, path);
  if (reimport->parsed()) return reimportCommand(common, identifier);
  if (seed->parsed()) return seedCommand(common, seedOptions);
  if (sync->parsed()) return syncCommand(common, syncOptions);
  if (mount->parsed()) return mountCommand(common, mountOptions);
  return 0;
}
