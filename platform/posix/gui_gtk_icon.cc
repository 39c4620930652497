#include "platform/posix/gui_gtk_icon.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::size_t kDirectorySize = 6;
constexpr std::size_t kEntrySize = 16;

unsigned ReadU16(const unsigned char* p) { return p[0] | (p[1] << 8u); }

std::uint32_t ReadU32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutU32(unsigned char* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

GdkPixbuf* LoadOneImage(const std::vector<unsigned char>& file) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("ico", nullptr);
  if (!loader) return nullptr;
  GdkPixbuf* image = nullptr;
  const bool written = gdk_pixbuf_loader_write(loader, file.data(), file.size(), nullptr);
  if (gdk_pixbuf_loader_close(loader, nullptr) && written) {
    image = gdk_pixbuf_loader_get_pixbuf(loader);
    if (image) g_object_ref(image);
  }
  g_object_unref(loader);
  return image;
}

// The loader of .ico files keeps only one image of a file with several: each
// image is handed to it as a file of its own.
std::vector<GdkPixbuf*> LoadAllImages(const IconData& data) {
  std::vector<GdkPixbuf*> images;
  if (!data.bytes || data.size < kDirectorySize) return images;
  const unsigned char* bytes = data.bytes;
  if (ReadU16(bytes) != 0 || ReadU16(bytes + 2) != 1) return images;
  const std::size_t count = ReadU16(bytes + 4);
  if (data.size < kDirectorySize + count * kEntrySize) return images;
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char* entry = bytes + kDirectorySize + i * kEntrySize;
    const std::uint32_t size = ReadU32(entry + 8);
    const std::uint32_t offset = ReadU32(entry + 12);
    if (size == 0 || offset > data.size || size > data.size - offset) continue;
    std::vector<unsigned char> file(kDirectorySize + kEntrySize);
    file[2] = 1;  // type: icon
    file[4] = 1;  // one image
    std::copy(entry, entry + kEntrySize, file.begin() + kDirectorySize);
    PutU32(&file[kDirectorySize + 12], static_cast<std::uint32_t>(kDirectorySize + kEntrySize));
    file.insert(file.end(), bytes + offset, bytes + offset + size);
    if (GdkPixbuf* image = LoadOneImage(file)) images.push_back(image);
  }
  return images;
}

GdkPixbuf* Nearest(const std::vector<GdkPixbuf*>& images, int size) {
  GdkPixbuf* best = nullptr;
  int bestDistance = 0;
  for (GdkPixbuf* image : images) {
    const int distance = std::abs(gdk_pixbuf_get_width(image) - size);
    if (!best || distance < bestDistance) {
      best = image;
      bestDistance = distance;
    }
  }
  return best;
}

}  // namespace

bool LoadIconImages(const IconData& data, int largeSize, IconResource& icon) {
  const std::vector<GdkPixbuf*> images = LoadAllImages(data);
  if (images.empty()) return false;
  icon.large = Nearest(images, largeSize);
  icon.small = Nearest(images, largeSize / 2);
  g_object_ref(icon.large);
  g_object_ref(icon.small);
  for (GdkPixbuf* image : images) g_object_unref(image);
  return true;
}
