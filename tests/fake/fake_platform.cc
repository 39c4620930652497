// The backend functions over the fake world of fake_platform.h.
#include "tests/fake/fake_platform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <sstream>

#include "platform/backend.h"
#include "platform/dialog.h"
#include "platform/progress_backend.h"
#include "platform/system.h"
#include "platform/window.h"

namespace fake {
namespace {

Platform* g_current = nullptr;

std::string Hex(unsigned long value) {
  std::ostringstream out;
  out << "0x" << std::hex << value;
  return out.str();
}

const char* ActionName(UserAction action) {
  switch (action) {
    case UserAction::Execute:
      return "Execute";
    case UserAction::Cancel:
      return "Cancel";
    case UserAction::Escape:
      return "Escape";
    case UserAction::CloseButton:
      return "CloseButton";
    case UserAction::F1:
      return "F1";
    case UserAction::Paint:
      return "Paint";
  }
  return "?";
}

}  // namespace

Platform::Platform() : previous_(g_current) { g_current = this; }

Platform::~Platform() { g_current = previous_; }

Platform& Platform::Current() {
  if (!g_current) std::abort();
  return *g_current;
}

void Platform::AddFile(const std::string& name, std::vector<unsigned char> data) {
  files[name].data = std::move(data);
}

const std::vector<unsigned char>& Platform::Data(const std::string& name) const {
  return files.at(name).data;
}

void Platform::FailOn(Op op, const std::string& name, int cause, int nth) {
  faults_.push_back({op, name, cause, nth, 0});
}

void Platform::OnOpen(const std::string& name, int nth, std::function<void()> action) {
  openHooks_.push_back({name, nth, 0, std::move(action)});
}

std::vector<std::string> Platform::Events(const std::string& prefix) const {
  std::vector<std::string> selected;
  for (const std::string& entry : log) {
    if (entry.compare(0, prefix.size(), prefix) == 0) selected.push_back(entry);
  }
  return selected;
}

std::string Platform::BareName(const std::string& path) const {
  std::string base = folder;
  if (!base.empty() && base.back() != '\\') base += '\\';
  if (path.compare(0, base.size(), base) == 0) return path.substr(base.size());
  return path;
}

std::string Platform::FullPath(const std::string& bareName) const {
  std::string base = folder;
  if (!base.empty() && base.back() != '\\') base += '\\';
  return base + bareName;
}

std::string Platform::Resolve(const std::string& bareName) const {
  std::string name = bareName;
  for (int hops = 0; hops < 8 && links.count(name) != 0; ++hops) name = links.at(name);
  return name;
}

File& Platform::FileOf(const Handle& handle) {
  return handle.unnamed ? unnamed.at(handle.name) : files.at(handle.name);
}

int Platform::FaultsMet() const {
  return static_cast<int>(std::count_if(faults_.begin(), faults_.end(),
                                        [](const Fault& f) { return f.seen >= f.nth; }));
}

int Platform::MaybeFail(Op op, const std::string& name) {
  int met = 0;
  for (Fault& fault : faults_) {
    if (fault.op != op || (!fault.name.empty() && fault.name != name)) continue;
    if (++fault.seen == fault.nth && met == 0) {
      met = fault.cause;
      faultMetAt = log.size();
    }
  }
  if (met == kNoMemory) throw std::bad_alloc();
  if (met > 0) throw CFileException(met, 1117);
  return met;
}

void Platform::RunOpenHooks(const std::string& name) {
  for (OpenHook& hook : openHooks_) {
    if (hook.name == name && ++hook.seen == hook.nth) hook.action();
  }
}

std::vector<std::string> Platform::OpenFileNames() const {
  std::vector<std::string> names;
  for (const auto& entry : handles) names.push_back(entry.second.name);
  return names;
}

}  // namespace fake

using fake::Op;
using fake::Platform;

// --- files ---

BOOL CFile::Open(const std::string& fileName, UINT openFlags) {
  Platform& p = Platform::Current();
  const bool write = (openFlags & modeWrite) != 0;
  p.RunOpenHooks(p.BareName(fileName));
  const std::string name = p.Resolve(p.BareName(fileName));
  const auto file = p.files.find(name);
  const bool heldHere = std::any_of(p.handles.begin(), p.handles.end(),
                                    [&](const auto& h) { return h.second.name == name; });
  bool opens = p.MaybeFail(Op::Open, name) != fake::kRefused && !name.empty() &&
               name.find('\\') == std::string::npos && !heldHere;
  if (write) {
    opens =
        opens && (file == p.files.end() || (!file->second.heldByOther && !file->second.readOnly));
  } else {
    opens = opens && file != p.files.end() && !file->second.heldByOther;
  }
  if (!opens) {
    p.log.push_back("open-failed " + name);
    return FALSE;
  }
  if (write) p.files[name].data.clear();
  m_hFile = p.nextHandle++;
  m_strFileName = p.FullPath(name);
  p.handles[m_hFile] = {name, 0, write, false};
  p.log.push_back("open " + name + (write ? " write" : " read"));
  return TRUE;
}

namespace {

// The bytes a read of count takes from the handle's position, moved on.
UINT TakeBytes(Platform& p, Platform::Handle& h, void* buffer, UINT count) {
  bool cut = false;
  try {
    cut = p.MaybeFail(Op::Read, h.name) == fake::kShort;
  } catch (CFileException& e) {
    // A read error names the file read, as the backends' do.
    e.m_strFileName = p.FullPath(h.name);
    throw;
  }
  const std::vector<unsigned char>& data = p.FileOf(h).data;
  const std::uint64_t available = h.position < data.size() ? data.size() - h.position : 0;
  const UINT got = static_cast<UINT>(std::min<std::uint64_t>(count, available)) / (cut ? 2 : 1);
  if (got > 0) std::memcpy(buffer, data.data() + h.position, got);
  h.position += got;
  return got;
}

// Puts what the disk still takes of count bytes at the handle's position;
// returns FALSE when that was not all of them.
BOOL PutBytes(Platform& p, Platform::Handle& h, const void* buffer, UINT count) {
  const bool cut = p.MaybeFail(Op::Write, h.name) == fake::kShort;
  const UINT taken =
      static_cast<UINT>(std::min<std::int64_t>(count, std::max<std::int64_t>(p.freeSpace, 0))) /
      (cut ? 2 : 1);
  std::vector<unsigned char>& data = p.FileOf(h).data;
  if (data.size() < h.position + taken) data.resize(h.position + taken);
  if (taken > 0) std::memcpy(data.data() + h.position, buffer, taken);
  h.position += taken;
  p.freeSpace -= taken;
  return taken == count;
}

std::string Got(UINT count, UINT got) { return got == count ? "" : " got " + std::to_string(got); }

}  // namespace

UINT CFile::Read(void* buffer, UINT count) {
  Platform& p = Platform::Current();
  Platform::Handle& h = p.handles.at(m_hFile);
  const UINT got = TakeBytes(p, h, buffer, count);
  p.log.push_back("read " + h.name + " " + std::to_string(count) + Got(count, got));
  return got;
}

void CFile::Write(const void* buffer, UINT count) {
  if (count == 0) return;
  Platform& p = Platform::Current();
  Platform::Handle& h = p.handles.at(m_hFile);
  const BOOL whole = PutBytes(p, h, buffer, count);
  p.log.push_back("write " + h.name + " " + std::to_string(count));
  if (!whole) throw CFileException(CFileException::diskFull, -1, m_strFileName);
}

// One event for the whole block, however the backend would move it; faults
// on the source's reads and the output's writes still apply.
UINT CopyBlock(CFile& from, CFile& to, void* buffer, UINT count) {
  Platform& p = Platform::Current();
  Platform::Handle& in = p.handles.at(from.m_hFile);
  Platform::Handle& out = p.handles.at(to.m_hFile);
  const UINT got = TakeBytes(p, in, buffer, count);
  p.log.push_back("copy " + in.name + " " + out.name + " " + std::to_string(count) +
                  Got(count, got));
  if (got > 0 && !PutBytes(p, out, buffer, got)) {
    throw CFileException(CFileException::diskFull, -1, to.m_strFileName);
  }
  return got;
}

std::uint64_t CFile::Seek(std::int64_t offset, UINT from) {
  Platform& p = Platform::Current();
  Platform::Handle& h = p.handles.at(m_hFile);
  p.MaybeFail(Op::Seek, h.name);
  const std::int64_t base = from == begin     ? 0
                            : from == current ? static_cast<std::int64_t>(h.position)
                                              : static_cast<std::int64_t>(p.FileOf(h).data.size());
  if (base + offset < 0) throw CFileException(CFileException::badSeek, 131);
  h.position = static_cast<std::uint64_t>(base + offset);
  p.log.push_back("seek " + h.name + " " + std::to_string(h.position));
  return h.position;
}

std::uint64_t CFile::GetLength() {
  Platform& p = Platform::Current();
  const Platform::Handle& h = p.handles.at(m_hFile);
  p.MaybeFail(Op::GetLength, h.name);
  const fake::File& file = p.FileOf(h);
  return file.data.size() + file.extraLength;
}

std::string CFile::GetFilePath() const { return m_strFileName; }

void CFile::Close() {
  if (m_hFile == kNoHandle) return;
  Platform& p = Platform::Current();
  const std::string name = p.handles.at(m_hFile).name;
  p.handles.erase(m_hFile);
  m_hFile = kNoHandle;
  m_strFileName.clear();
  p.log.push_back("close " + name);
  p.MaybeFail(Op::Close, name);
}

BOOL CNewFile::Create(const std::string& fileName) {
  Platform& p = Platform::Current();
  const std::string name = p.BareName(fileName);
  p.RunOpenHooks(name);
  if (p.MaybeFail(Op::Create, name) == fake::kRefused || name.empty() ||
      name.find('\\') != std::string::npos || p.files.count(name) != 0 ||
      p.links.count(name) != 0) {
    p.log.push_back("create-failed " + name);
    return FALSE;
  }
  p.unnamed[name] = fake::File();
  m_hFile = p.nextHandle++;
  m_strFileName = p.FullPath(name);
  p.handles[m_hFile] = {name, 0, true, true};
  p.log.push_back("create " + name);
  return TRUE;
}

BOOL CNewFile::Commit() {
  Platform& p = Platform::Current();
  const std::string name = p.handles.at(m_hFile).name;
  fake::File file = std::move(p.unnamed.at(name));
  p.unnamed.erase(name);
  p.handles.erase(m_hFile);
  m_hFile = kNoHandle;
  m_strFileName.clear();
  if (p.MaybeFail(Op::Commit, name) == fake::kRefused || p.files.count(name) != 0 ||
      p.links.count(name) != 0) {
    p.log.push_back("commit-failed " + name);
    return FALSE;
  }
  p.files[name] = std::move(file);
  p.log.push_back("commit " + name);
  return TRUE;
}

void CNewFile::Discard() {
  if (m_hFile == kNoHandle) return;
  Platform& p = Platform::Current();
  const std::string name = p.handles.at(m_hFile).name;
  p.handles.erase(m_hFile);
  p.unnamed.erase(name);
  m_hFile = kNoHandle;
  m_strFileName.clear();
  p.log.push_back("discard " + name);
}

void CNewFile::TakeOriginMark(const std::string& sourceFile) {
  Platform::Current().originSources.push_back(sourceFile);
}

// --- system services ---

const char kFolderSeparator = '\\';

BOOL GetCurrentFolder(std::string& folder) {
  Platform& p = Platform::Current();
  if (p.MaybeFail(Op::CurrentFolder, "") == fake::kRefused || !p.folderReadable) return FALSE;
  folder = p.folder;
  return TRUE;
}

UINT GetFolderDriveType(const std::string& folder) {
  Platform& p = Platform::Current();
  p.log.push_back("drive-type " + folder);
  return p.driveType;
}

BOOL DeleteFile(const std::string& fileName) {
  Platform& p = Platform::Current();
  const std::string name = p.BareName(fileName);
  if (p.MaybeFail(Op::Delete, name) == fake::kRefused) {
    p.log.push_back("delete-failed " + name);
    return FALSE;
  }
  // A link goes alone; the file it leads to stays.
  if (p.links.erase(name) != 0) {
    p.log.push_back("delete " + name);
    return TRUE;
  }
  const auto file = p.files.find(name);
  const bool open = std::any_of(p.handles.begin(), p.handles.end(),
                                [&](const auto& h) { return h.second.name == name; });
  if (file == p.files.end() || file->second.heldByOther || file->second.readOnly || open) {
    p.log.push_back("delete-failed " + name);
    return FALSE;
  }
  p.files.erase(file);
  p.log.push_back("delete " + name);
  return TRUE;
}

BOOL IsShortNameOfOtherFile(const std::string& fileName) {
  Platform& p = Platform::Current();
  return p.shortNames.count(p.BareName(fileName)) != 0 ? TRUE : FALSE;
}

BOOL GetFileId(const std::string& fileName, CFileId& id) {
  Platform& p = Platform::Current();
  const std::string name = p.Resolve(p.BareName(fileName));
  const auto file = p.files.find(name);
  if (p.MaybeFail(Op::GetFileId, name) == fake::kRefused || file == p.files.end()) return FALSE;
  id = CFileId{1, std::hash<std::string>()(name)};
  return TRUE;
}

std::string GetProgramPath() { return Platform::Current().programPath; }

std::string GetProgramFileName() {
  const std::string& path = Platform::Current().programPath;
  return path.substr(path.find_last_of('\\') + 1);
}

void LaunchFile(const std::string& fullPath) {
  Platform& p = Platform::Current();
  p.log.push_back("launch " + fullPath + (p.progressShown ? " under-progress" : ""));
}

CGlobalBuffer::CGlobalBuffer(std::size_t size) {
  Platform& p = Platform::Current();
  if (p.MaybeFail(Op::Alloc, "") == fake::kRefused) {
    p.log.push_back("alloc-failed");
    return;
  }
  m_pData = static_cast<unsigned char*>(std::calloc(size, 1));
  m_nSize = size;
  p.log.push_back("alloc " + std::to_string(size));
}

CGlobalBuffer::~CGlobalBuffer() {
  if (!m_pData) return;
  std::free(m_pData);
  Platform::Current().log.push_back("free");
}

// --- windows ---

namespace {
int g_iconResource;  // the address stands for the program's icon
}

BOOL CWnd::IsIconic() const { return Platform::Current().iconic; }

void CWnd::SetIcon(HICON icon, BOOL bigIcon) {
  Platform::Current().log.push_back(std::string("set-icon ") + (bigIcon ? "big" : "small") +
                                    (icon ? "" : " none"));
}

void CWnd::GetClientRect(CRect* rect) const { *rect = Platform::Current().clientRect; }

std::intptr_t CWnd::SendMessage(UINT message, std::uintptr_t wParam, std::intptr_t) {
  Platform::Current().log.push_back("send " + fake::Hex(message) + " " + std::to_string(wParam));
  return 0;
}

CPaintDC::CPaintDC(CWnd*) : m_hDC(7) { Platform::Current().log.push_back("paint-begin"); }

CPaintDC::~CPaintDC() { Platform::Current().log.push_back("paint-end"); }

void CPaintDC::DrawIcon(int x, int y, HICON icon) {
  Platform::Current().log.push_back("draw-icon " + std::to_string(x) + " " + std::to_string(y) +
                                    (icon ? "" : " none"));
}

int GetSystemMetrics(int index) { return index == SM_CXICON || index == SM_CYICON ? 32 : 0; }

namespace platform {

void InitProcess() { Platform::Current().log.push_back("init-process"); }

INT_PTR RunModalDialog(CDialog& dialog) {
  Platform& p = Platform::Current();
  if (!p.dialogCanBeShown) {
    p.log.push_back("dialog-failed");
    return -1;
  }
  dialog.m_hWnd = &dialog;
  p.log.push_back("dialog-shown " + std::to_string(dialog.GetTemplateId()));
  if (dialog.OnInitDialog()) p.log.push_back("focus first-tab-stop");
  while (!dialog.IsEnded()) {
    if (p.script.empty()) {
      // A user who does nothing more closes the window.
      p.script.push_back(fake::UserAction::CloseButton);
    }
    const fake::UserAction action = p.script.front();
    p.script.pop_front();
    p.log.push_back(std::string("user ") + fake::ActionName(action));
    switch (action) {
      case fake::UserAction::Execute:
        dialog.OnCommand(IDOK);
        break;
      case fake::UserAction::Cancel:
      case fake::UserAction::Escape:
      case fake::UserAction::CloseButton:
        dialog.OnCommand(IDCANCEL);
        break;
      case fake::UserAction::F1:
        dialog.OnCommand(ID_HELP);
        break;
      case fake::UserAction::Paint:
        dialog.OnPaint();
        break;
    }
  }
  p.log.push_back("dialog-ended " + std::to_string(dialog.GetResult()));
  dialog.m_hWnd = nullptr;
  return dialog.GetResult();
}

int ShowMessageBox(CWnd* owner, const std::string& text, const std::string& caption, UINT type) {
  Platform& p = Platform::Current();
  p.messages.push_back({text, caption, type, owner, p.OpenFileNames(), p.progressShown});
  const char* icon = (type & MB_ICONMASK) == MB_ICONSTOP          ? "stop"
                     : (type & MB_ICONMASK) == MB_ICONEXCLAMATION ? "exclamation"
                                                                  : "other";
  p.log.push_back(std::string("message ") + icon + (owner ? " owned" : " unowned") + ": " + text);
  return IDOK;
}

BOOL StartHelpViewer(const std::string& helpFile, DWORD context) {
  Platform& p = Platform::Current();
  p.log.push_back("help " + helpFile + " " + fake::Hex(context));
  return p.helpViewerStarts ? TRUE : FALSE;
}

HICON LoadIconResource(UINT id) {
  return id == 128 ? reinterpret_cast<HICON>(&g_iconResource) : nullptr;
}

std::uint64_t TickCount() {
  Platform& p = Platform::Current();
  const std::uint64_t now = p.clock;
  p.clock += p.clockStep;
  return now;
}

void* CreateProgressWindow(const std::string& caption, const std::string& text) {
  Platform& p = Platform::Current();
  if (!p.progressCanBeShown) {
    p.log.push_back("progress-failed");
    return nullptr;
  }
  p.progressShown = true;
  p.log.push_back("progress-shown " + caption + ": " + text);
  return &p.progressShown;
}

bool UpdateProgressWindow(void*, std::uint64_t done, std::uint64_t total) {
  Platform& p = Platform::Current();
  p.log.push_back("progress " + std::to_string(done) + "/" + std::to_string(total));
  if (++p.progressUpdates != p.cancelAtUpdate) return true;
  p.log.push_back("progress-cancel");
  return false;
}

void DestroyProgressWindow(void*) {
  Platform& p = Platform::Current();
  p.progressShown = false;
  p.log.push_back("progress-gone");
}

}  // namespace platform
