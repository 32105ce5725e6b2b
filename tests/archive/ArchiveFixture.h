// Test fixture for the archive layer: a fresh archive list and file index per test, archives
// written at test time into a scratch directory, opened through the layer and appended in order.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "archive/Zanth.h"
#include "support/MpqWriter.h"
#include "support/TestData.h"

namespace velmora::test {

// Makes bytes printable in failure messages: controls and bytes >= 0x80 as \xNN.
std::string Escaped(std::string_view s);

// Number of open file descriptors of this process.
std::size_t OpenDescriptorCount();

class ArchiveIndexTest : public ::testing::Test {
protected:
  void SetUp() override { CreateArchiveIndex(); }
  void TearDown() override { FreeArchiveIndex(); }

  // Writes an archive, opens it and appends it to MpqList. 0 when it could not be opened (the
  // failure is recorded).
  MpqHandle AddArchive(const std::vector<MpqMember>& members, const std::optional<std::string>& listfile);

  // Opens an archive file and appends it to MpqList; 0 (recorded as a failure) when it fails.
  MpqHandle AddArchiveFile(const std::filesystem::path& path);

  // LoadListFile, recording every path handed to the hook.
  bool Ingest(MpqHandle h, std::vector<std::string>& paths);

  // The whole file read through TZanthObject; nullopt when the object has no file handler.
  static std::optional<std::string> ReadObject(const std::string& name);

  const std::filesystem::path& Dir() const { return dir_.path(); }

private:
  TempDir dir_;
  int archives_ = 0;
};

// The same with the test build of the reader (which fails, lies or probes on request, by name)
// under short deadlines; the product's reader again afterwards, with no hooks or limits left.
class TestReaderTest : public ArchiveIndexTest {
protected:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace velmora::test
