// Scratch archives and index set-up shared by the archive layer's tests.
#include "ArchiveFixture.h"

#include <chrono>
#include <cstdio>

namespace velmora::test {

std::string Escaped(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::size_t OpenDescriptorCount() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

MpqHandle ArchiveIndexTest::AddArchive(const std::vector<MpqMember>& members,
                                       const std::optional<std::string>& listfile) {
  const auto path = Dir() / ("archive" + std::to_string(archives_++) + ".mpq");
  WriteMpq(path, members, listfile);
  return AddArchiveFile(path);
}

MpqHandle ArchiveIndexTest::AddArchiveFile(const std::filesystem::path& path) {
  TArchiveHandle archive;
  if (!OpenMpqArchive(path.string(), archive)) {
    ADD_FAILURE() << "cannot open " << path;
    return 0;
  }
  const MpqHandle h = archive.Get();
  MpqList->Append(std::move(archive));
  return h;
}

bool ArchiveIndexTest::Ingest(MpqHandle h, std::vector<std::string>& paths) {
  return LoadListFile(h, [&](std::string_view p) { paths.emplace_back(p); });
}

std::optional<std::string> ArchiveIndexTest::ReadObject(const std::string& name) {
  const TZanthObject object(name);
  TZanthFileHandler* handler = object.FileHandler();
  if (handler == nullptr) return std::nullopt;
  const std::uint64_t size = handler->GetSize();
  std::string data(static_cast<std::size_t>(size), '\0');
  if (!handler->GetDataByOffset(0, static_cast<std::uint32_t>(size), data.data())) {
    ADD_FAILURE() << "short read of " << Escaped(name) << " (" << size << " bytes)";
  }
  return data;
}

void TestReaderTest::SetUp() {
  using namespace std::chrono_literals;
  ArchiveIndexTest::SetUp();
  TArchiveReader& reader = TArchiveReader::Instance();
  reader.Stop();
  reader.SetProgram(VELMORA_FAULT_READER);
  reader.SetDeadlines({1500ms, 1500ms, 100ms});
}

void TestReaderTest::TearDown() {
  ArchiveIndexTest::TearDown();
  TArchiveReader& reader = TArchiveReader::Instance();
  reader.SetStopHook({});
  reader.SetWaitHook({});
  reader.SetDeadlines({});
  reader.SetMaxOpenArchives(0);
  reader.Stop();
  reader.SetProgram(TArchiveReader::DefaultProgram());
}

}  // namespace velmora::test
