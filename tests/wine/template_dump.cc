// template_dump: prints the portable dialog template in the form in which
// probe prints the compiled one, so that the Wine tests can hold the
// resource script's copy to the template the other backends use.
#include <cstdio>
#include <string>

#include "platform/resources.h"
#include "ui/resource.h"

namespace {

// Every control of a compiled template is a child window.
constexpr DWORD kChildStyle = 0x40000000;

std::string Escaped(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (*p == '\n') {
      out += "\\n";
    } else if (*p == '\r') {
      out += "\\r";
    } else if (*p == '\t') {
      out += "\\t";
    } else if (*p == '\\') {
      out += "\\\\";
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace

int main() {
  const DialogTemplate* t = FindDialogTemplate(IDD_JOIN);
  if (!t) return 1;
  std::printf("dialog %u\n", t->id);
  std::printf("style 0x%08lx\n", static_cast<unsigned long>(t->style));
  std::printf("exstyle 0x%08lx\n", static_cast<unsigned long>(t->exStyle));
  std::printf("rect %d %d %d %d\n", t->x, t->y, t->cx, t->cy);
  std::printf("font %d %s\n", t->pointSize, Escaped(t->fontName).c_str());
  std::printf("caption %s\n", Escaped(t->caption).c_str());
  for (std::size_t i = 0; i < t->controlCount; ++i) {
    const DialogControl& c = t->controls[i];
    std::printf("control %u %s 0x%08lx %d %d %d %d %s\n", c.id,
                c.kind == DialogControl::Button ? "Button" : "Static",
                static_cast<unsigned long>(c.style | kChildStyle), c.x, c.y, c.cx, c.cy,
                Escaped(c.text).c_str());
  }
  return 0;
}
