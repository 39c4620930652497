// The application object: runs the whole program from its start-up hook,
// from the drive check to the launch of the rebuilt installer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "join/div_header.h"
#include "platform/app.h"

class CJoinApp : public CWinApp {
 public:
  CJoinApp();

  BOOL InitInstance() override;
  BOOL OnCmdMsg(UINT id) override;

  // TRUE when the working folder lies on a fixed disk; fills m_strFolder.
  BOOL CheckFixedDrive();
  // TRUE when the first part exists and carries a usable header; fills
  // m_divHeader and m_strOutputName.
  BOOL LoadFirstHeader();
  // The joiner over this run's header, output name and verified lengths.
  BOOL JoinParts();

  // The working folder, always ending with the separator.
  std::string m_strFolder;
  // The first part's header, the only source of the set's description.
  DIVHEADER m_divHeader{};
  // The header's output name, decoded.
  std::string m_strOutputName;
  // Every part's length as the verification measured it, by part number
  // from 1: the joiner copies only parts that are still what was verified.
  std::vector<std::uint64_t> m_partLengths;

 private:
  // Starts the output where it was written.
  void LaunchOutput();
};

// The process's current folder, ending with the separator. FALSE when it
// cannot be read.
BOOL GetWorkingFolder(std::string& folder);

// The running application.
CJoinApp& GetJoinApp();
