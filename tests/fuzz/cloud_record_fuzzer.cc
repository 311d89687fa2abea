// Cloud records as the cloud stores keep them: the body (a binary property
// list of fields and parent) and the archived system fields. What decodes
// must encode again to bytes that decode and encode to the same bytes.
#include "fuzz_check.h"
#include "fuzz_scratch.h"
#include "platform/cloud/cloud_record.h"
#include "platform/cloud/embedded_cloud_record_coding.h"

using namespace qlt;

static void checkBody(const Bytes& body) {
  std::map<std::string, CloudValue> fields;
  std::optional<CloudReference> parent;
  if (!decodeCloudRecordBody(body, fields, parent)) return;
  std::optional<Bytes> encoded = encodeCloudRecordBody(fields, parent);
  if (!encoded) return;
  std::map<std::string, CloudValue> refields;
  std::optional<CloudReference> reparent;
  FUZZ_CHECK(decodeCloudRecordBody(*encoded, refields, reparent));
  std::optional<Bytes> reencoded = encodeCloudRecordBody(refields, reparent);
  FUZZ_CHECK(reencoded && *reencoded == *encoded);
}

static std::optional<RecordSystemFields> checkSystemFields(const Bytes& archive) {
  std::optional<RecordSystemFields> system = RecordSystemFields::fromArchivedData(archive);
  if (!system) return std::nullopt;
  Bytes archived = system->archivedData();
  std::optional<RecordSystemFields> reread = RecordSystemFields::fromArchivedData(archived);
  FUZZ_CHECK(reread);
  FUZZ_CHECK(reread->archivedData() == archived);
  return system;
}

// The input is a body, or system fields and a body separated by "\n--\n".
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  registerCloudRecordClasses();
  std::vector<std::string> parts = splitFuzzInput(data, size, "\n--\n");
  Bytes first(parts[0].begin(), parts[0].end());
  checkBody(first);
  std::optional<RecordSystemFields> system = checkSystemFields(first);
  if (parts.size() < 2) return 0;
  Bytes body(parts[1].begin(), parts[1].end());
  checkBody(body);
  if (system) (void)decodeStoredCloudRecord(*system, body);
  return 0;
}
