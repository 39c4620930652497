// probe: the Wine tests' eyes and hands inside the Windows world. It reads
// the compiled resources of a program, lists the dialogs on screen with their
// controls, holds a file open the way another program would, and starts a
// program in a given folder. Everything it prints is UTF-8, one item a line;
// line breaks inside texts are printed as \n, so a text is always one line.
#include <windows.h>
//
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* text, std::size_t length) {
  if (length == 0) return std::string();
  const int size = static_cast<int>(length);
  const int needed = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, size, &out[0], needed, nullptr, nullptr);
  return out;
}

std::string Utf8(const std::wstring& text) { return Utf8(text.data(), text.size()); }

// One line per item: line breaks and backslashes are spelled out.
std::string Escaped(const std::wstring& text) {
  std::string out;
  for (const char c : Utf8(text)) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out;
}

// Raw bytes to standard output: no text-mode translation of line ends.
void Print(const std::string& line) {
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

std::string Hex(unsigned long value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08lx", value);
  return buffer;
}

int Fail(const std::string& why) {
  Print("error " + why);
  return 2;
}

// --- compiled resources ---

HMODULE LoadAsData(const wchar_t* path) {
  return LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

struct Resource {
  const unsigned char* data = nullptr;
  DWORD size = 0;
  WORD language = 0;
};

BOOL CALLBACK FirstLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
  *reinterpret_cast<WORD*>(found) = language;
  return FALSE;
}

bool FindResourceData(HMODULE module, const wchar_t* type, const wchar_t* name, Resource& out) {
  WORD language = 0;
  EnumResourceLanguagesW(module, type, name, FirstLanguage, reinterpret_cast<LONG_PTR>(&language));
  HRSRC found = FindResourceExW(module, type, name, language);
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module, found);
  if (!loaded) return false;
  out.data = static_cast<const unsigned char*>(LockResource(loaded));
  out.size = SizeofResource(module, found);
  out.language = language;
  return out.data != nullptr;
}

// Reads the parts of a dialog template in order, each aligned as the
// format wants.
class TemplateReader {
 public:
  TemplateReader(const unsigned char* data, DWORD size) : data_(data), size_(size) {}

  bool ok() const { return ok_; }
  WORD Word() { return Read<WORD>(); }
  DWORD Dword() { return Read<DWORD>(); }
  short Short() { return Read<short>(); }
  BYTE Byte() { return Read<BYTE>(); }
  std::wstring String() {
    std::wstring text;
    for (WORD c = Word(); ok_ && c != 0; c = Word()) text += static_cast<wchar_t>(c);
    return text;
  }
  // A name or an ordinal: "" for none, "#n" for an ordinal.
  std::wstring NameOrOrdinal() {
    const WORD first = Word();
    if (first == 0) return std::wstring();
    if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
    std::wstring text(1, static_cast<wchar_t>(first));
    return text + String();
  }
  void AlignTo(DWORD bytes) { offset_ = (offset_ + bytes - 1) / bytes * bytes; }
  void Skip(DWORD bytes) { offset_ += bytes; }

 private:
  template <typename T>
  T Read() {
    T value{};
    if (offset_ + sizeof(T) > size_) {
      ok_ = false;
      return value;
    }
    std::memcpy(&value, data_ + offset_, sizeof(T));
    offset_ += static_cast<DWORD>(sizeof(T));
    return value;
  }

  const unsigned char* data_;
  DWORD size_;
  DWORD offset_ = 0;
  bool ok_ = true;
};

std::string ControlClass(const std::wstring& name) {
  if (name == L"#128") return "Button";
  if (name == L"#129") return "Edit";
  if (name == L"#130") return "Static";
  return Utf8(name);
}

// The lines without the "compiled" mark are the ones template_dump prints
// from the portable template; the marked ones exist only in the resource.
int DumpDialog(const wchar_t* path, unsigned id) {
  HMODULE module = LoadAsData(path);
  if (!module) return Fail("cannot load " + Utf8(path));
  Resource res;
  if (!FindResourceData(module, RT_DIALOG, MAKEINTRESOURCEW(id), res)) {
    return Fail("no dialog " + std::to_string(id));
  }
  TemplateReader in(res.data, res.size);
  const WORD version = in.Word();
  const WORD signature = in.Word();
  if (version != 1 || signature != 0xFFFF) return Fail("not an extended dialog template");
  const DWORD helpId = in.Dword();
  const DWORD exStyle = in.Dword();
  const DWORD style = in.Dword();
  const WORD count = in.Word();
  const short x = in.Short(), y = in.Short(), cx = in.Short(), cy = in.Short();
  const std::wstring menu = in.NameOrOrdinal();
  const std::wstring windowClass = in.NameOrOrdinal();
  const std::wstring caption = in.String();
  Print("dialog " + std::to_string(id));
  Print("style " + Hex(style));
  Print("exstyle " + Hex(exStyle));
  Print("rect " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(cx) + " " +
        std::to_string(cy));
  if (style & (DS_SETFONT | DS_SHELLFONT)) {
    const WORD pointSize = in.Word();
    const WORD weight = in.Word();
    const BYTE italic = in.Byte();
    const BYTE charset = in.Byte();
    const std::wstring face = in.String();
    Print("font " + std::to_string(pointSize) + " " + Escaped(face));
    Print("compiled font weight=" + std::to_string(weight) + " italic=" + std::to_string(italic) +
          " charset=" + std::to_string(charset));
  }
  Print("caption " + Escaped(caption));
  Print("compiled language " + Hex(res.language));
  Print("compiled helpid " + std::to_string(helpId) + " menu '" + Utf8(menu) + "' class '" +
        Utf8(windowClass) + "' controls " + std::to_string(count));
  for (WORD i = 0; i < count && in.ok(); ++i) {
    in.AlignTo(4);
    const DWORD itemHelpId = in.Dword();
    const DWORD itemExStyle = in.Dword();
    const DWORD itemStyle = in.Dword();
    const short ix = in.Short(), iy = in.Short(), icx = in.Short(), icy = in.Short();
    const DWORD itemId = in.Dword();
    const std::wstring itemClass = in.NameOrOrdinal();
    const std::wstring itemText = in.NameOrOrdinal();
    const WORD extra = in.Word();
    in.Skip(extra);
    Print("control " + std::to_string(itemId) + " " + ControlClass(itemClass) + " " +
          Hex(itemStyle) + " " + std::to_string(ix) + " " + std::to_string(iy) + " " +
          std::to_string(icx) + " " + std::to_string(icy) + " " + Escaped(itemText));
    Print("compiled control " + std::to_string(itemId) + " exstyle " + Hex(itemExStyle) +
          " helpid " + std::to_string(itemHelpId) + " extra " + std::to_string(extra));
  }
  if (!in.ok()) return Fail("template ends early");
  return 0;
}

std::wstring VersionString(const std::vector<unsigned char>& info, const std::wstring& key) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring query = L"\\StringFileInfo\\041104b0\\" + key;
  if (!VerQueryValueW(info.data(), query.c_str(), &value, &length) || length == 0) {
    return L"(none)";
  }
  const wchar_t* text = static_cast<const wchar_t*>(value);
  return std::wstring(text, wcsnlen(text, length));
}

int DumpVersion(const wchar_t* path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return Fail("no version record");
  std::vector<unsigned char> info(size);
  if (!GetFileVersionInfoW(path, 0, size, info.data())) return Fail("version record unreadable");
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueW(info.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    auto dotted = [](DWORD ms, DWORD ls) {
      return std::to_string(HIWORD(ms)) + "." + std::to_string(LOWORD(ms)) + "." +
             std::to_string(HIWORD(ls)) + "." + std::to_string(LOWORD(ls));
    };
    Print("fixed file " + dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS) + " product " +
          dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS) + " type " +
          std::to_string(fixed->dwFileType));
  }
  if (VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length) && length >= 4) {
    const WORD* pair = static_cast<const WORD*>(value);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "translation %04x %04x", pair[0], pair[1]);
    Print(buffer);
  }
  for (const wchar_t* key :
       {L"FileVersion", L"ProductVersion", L"InternalName", L"OriginalFilename", L"CompanyName",
        L"FileDescription", L"ProductName", L"LegalCopyright"}) {
    Print("string " + Utf8(key, wcslen(key)) + " " + Escaped(VersionString(info, key)));
  }
  return 0;
}

#pragma pack(push, 2)
struct GroupIconEntry {
  BYTE width, height, colorCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  WORD id;
};
#pragma pack(pop)

int DumpIcon(const wchar_t* path, unsigned id) {
  HMODULE module = LoadAsData(path);
  if (!module) return Fail("cannot load " + Utf8(path));
  Resource group;
  if (!FindResourceData(module, RT_GROUP_ICON, MAKEINTRESOURCEW(id), group) || group.size < 6) {
    return Fail("no icon " + std::to_string(id));
  }
  WORD count = 0;
  std::memcpy(&count, group.data + 4, sizeof count);
  for (WORD i = 0; i < count && 6 + (i + 1) * sizeof(GroupIconEntry) <= group.size; ++i) {
    GroupIconEntry entry;
    std::memcpy(&entry, group.data + 6 + i * sizeof(GroupIconEntry), sizeof entry);
    // The image's own header tells its colour depth.
    Resource image;
    int bits = entry.bitCount;
    if (FindResourceData(module, RT_ICON, MAKEINTRESOURCEW(entry.id), image) &&
        image.size >= sizeof(BITMAPINFOHEADER)) {
      BITMAPINFOHEADER header;
      std::memcpy(&header, image.data, sizeof header);
      if (header.biSize == sizeof(BITMAPINFOHEADER)) bits = header.biBitCount;
    }
    const int width = entry.width ? entry.width : 256;
    const int height = entry.height ? entry.height : 256;
    Print("image " + std::to_string(width) + "x" + std::to_string(height) + " " +
          std::to_string(bits) + "bpp");
  }
  return 0;
}

int DumpManifest(const wchar_t* path) {
  HMODULE module = LoadAsData(path);
  if (!module) return Fail("cannot load " + Utf8(path));
  Resource manifest;
  if (!FindResourceData(module, RT_MANIFEST, MAKEINTRESOURCEW(1), manifest)) {
    return Fail("no manifest");
  }
  Print(std::string(reinterpret_cast<const char*>(manifest.data), manifest.size));
  return 0;
}

// --- windows on screen ---

std::wstring WindowText(HWND window) {
  // Another process's window: WM_GETTEXT crosses over, with a time limit.
  wchar_t buffer[1024] = {};
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer),
                           SMTO_ABORTIFHUNG, 2000, &length)) {
    return L"";
  }
  return std::wstring(buffer, length);
}

std::wstring ClassOf(HWND window) {
  wchar_t buffer[256] = {};
  const int length = GetClassNameW(window, buffer, 256);
  return std::wstring(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

BOOL CALLBACK ListControl(HWND control, LPARAM) {
  if (GetParent(control) == nullptr) return TRUE;
  Print("  control " + std::to_string(GetDlgCtrlID(control)) + " " + Utf8(ClassOf(control)) + " " +
        Escaped(WindowText(control)));
  if (ClassOf(control) == PROGRESS_CLASSW) {
    DWORD_PTR position = 0;
    DWORD_PTR high = 0;
    SendMessageTimeoutW(control, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &position);
    SendMessageTimeoutW(control, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 2000, &high);
    Print("  progress " + std::to_string(position) + " of " + std::to_string(high));
  }
  return TRUE;
}

BOOL CALLBACK ListDialog(HWND window, LPARAM) {
  if (!IsWindowVisible(window) || ClassOf(window) != L"#32770") return TRUE;
  Print("window " + Escaped(WindowText(window)));
  HWND owner = GetWindow(window, GW_OWNER);
  Print("  owner " + (owner ? Escaped(WindowText(owner)) : std::string("-")));
  Print("  style " + Hex(static_cast<unsigned long>(GetWindowLongW(window, GWL_STYLE))) +
        " exstyle " + Hex(static_cast<unsigned long>(GetWindowLongW(window, GWL_EXSTYLE))));
  RECT rect = {};
  GetWindowRect(window, &rect);
  Print("  rect " + std::to_string(rect.left) + " " + std::to_string(rect.top) + " " +
        std::to_string(rect.right) + " " + std::to_string(rect.bottom));
  DWORD_PTR defId = 0;
  SendMessageTimeoutW(window, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 2000, &defId);
  Print("  default " +
        (HIWORD(defId) == DC_HASDEFID ? std::to_string(LOWORD(defId)) : std::string("-")));
  GUITHREADINFO gui = {};
  gui.cbSize = sizeof gui;
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  const bool focused = GetGUIThreadInfo(thread, &gui) && gui.hwndFocus &&
                       GetAncestor(gui.hwndFocus, GA_ROOT) == window;
  Print("  focus " + (focused ? std::to_string(GetDlgCtrlID(gui.hwndFocus)) : std::string("-")));
  EnumChildWindows(window, ListControl, 0);
  return TRUE;
}

int ListWindows() {
  RECT area = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  Print("workarea " + std::to_string(area.left) + " " + std::to_string(area.top) + " " +
        std::to_string(area.right) + " " + std::to_string(area.bottom));
  EnumWindows(ListDialog, 0);
  return 0;
}

// --- files and programs ---

// Holds a file the way another program would (share mode 0, or with
// "shared" every kind of sharing, as a viewer does) until the stop file
// appears, or for a number of milliseconds given in its place; for at most
// a minute.
int Hold(const wchar_t* path, const wchar_t* stopFile, bool shared) {
  const DWORD share = shared ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : 0;
  HANDLE file = CreateFileW(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail("cannot hold " + std::to_string(GetLastError()));
  Print("held");
  const bool timed = stopFile[0] >= L'0' && stopFile[0] <= L'9';
  const ULONGLONG end = GetTickCount64() + (timed ? std::wcstoul(stopFile, nullptr, 10) : 60000);
  while (GetTickCount64() < end &&
         (timed || GetFileAttributesW(stopFile) == INVALID_FILE_ATTRIBUTES)) {
    Sleep(10);
  }
  CloseHandle(file);
  return 0;
}

// Starts a program with the given current folder and waits for it.
// The short (8.3) name the system gives a file, without its folder.
int ShortName(const wchar_t* path) {
  wchar_t shortPath[MAX_PATH];
  const DWORD length = GetShortPathNameW(path, shortPath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return Fail("no short name " + std::to_string(GetLastError()));
  const std::wstring full(shortPath, length);
  Print(Utf8(full.substr(full.find_last_of(L"\\/") + 1)));
  return 0;
}

int Run(const wchar_t* folder, const wchar_t* program) {
  std::wstring commandLine = L"\"" + std::wstring(program) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder,
                      &startup, &process)) {
    return Fail("cannot start " + std::to_string(GetLastError()));
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  Print("exit " + std::to_string(code));
  return 0;
}

int Usage() {
  Print(
      "usage: probe dialog EXE ID | version EXE | icon EXE ID | manifest EXE | windows |"
      " hold FILE STOPFILE|MS [shared] | run FOLDER EXE | shortname FILE");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  const std::wstring mode = argv[1];
  if (mode == L"dialog" && argc == 4)
    return DumpDialog(argv[2], std::wcstoul(argv[3], nullptr, 10));
  if (mode == L"version" && argc == 3) return DumpVersion(argv[2]);
  if (mode == L"icon" && argc == 4) return DumpIcon(argv[2], std::wcstoul(argv[3], nullptr, 10));
  if (mode == L"manifest" && argc == 3) return DumpManifest(argv[2]);
  if (mode == L"windows" && argc == 2) return ListWindows();
  if (mode == L"hold" && (argc == 4 || argc == 5)) {
    return Hold(argv[2], argv[3], argc == 5 && std::wstring(argv[4]) == L"shared");
  }
  if (mode == L"run" && argc == 4) return Run(argv[2], argv[3]);
  if (mode == L"shortname" && argc == 3) return ShortName(argv[2]);
  return Usage();
}
