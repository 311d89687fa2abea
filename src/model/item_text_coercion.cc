#include "model/item_text_coercion.h"

#include "formats/editable_text_file.h"
#include "model/folder.h"
#include "model/item.h"
#include "platform/files/file_path.h"
#include "platform/foundation/log.h"
#include "platform/foundation/uniform_type.h"

namespace qlt {

bool coerceEditableTextFileForItemToAcceptAttachments(Item& item, Error* error) {
  std::string type = item.contentType();
  bool requiresCoercion = false;
  if (!EditableTextFile::typeCanHandleAttachments(type, &requiresCoercion)) {
    log("File type %@ cannot be coerced.", type);
    setError(error, Error(kEditableTextFileErrorDomain, kEditableTextFileUnsupportedTypeErrorCode,
                          "File type " + type + " cannot be coerced."));
    return false;
  }
  if (!requiresCoercion) return true;
  auto path = item.fileURL(error);
  auto folder = item.folder();
  if (!path || !folder) return false;
  std::string filename =
      item.uniqueFilename(appendingPathExtension(deletingPathExtension(item.filename()), "rtfd"), *folder);
  if (filename.empty()) return false;
  std::string destination = appendingPathComponent(deletingLastPathComponent(*path), filename);
  if (!EditableTextFile::convertRTFToRTFD(*path, destination, error)) return false;
  bool extensionHidden = item.extensionHidden();
  item.setValueForKey("filename", filename);
  item.setFileType(UniformType::rtfd().identifier());
  item.setValueForKey("extensionHidden", extensionHidden);
  return true;
}

}  // namespace qlt
