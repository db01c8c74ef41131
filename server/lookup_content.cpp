#include "server/lookup_content.h"

#include <algorithm>
#include <mutex>

#include "server/pages.h"

namespace zivorna::server {

namespace {

// Pages are small; pictures are bounded in number so that a client walking
// through every character cannot grow memory without limit.
constexpr size_t kMaxCachedPages = 32768;
constexpr size_t kMaxCachedPictures = 4096;

}  // namespace

std::shared_ptr<const std::string> AnswerCache::Get(char32_t key) const {
  std::shared_lock lock(mutex_);
  const auto it = map_.find(key);
  return it == map_.end() ? nullptr : it->second;
}

std::shared_ptr<const std::string> AnswerCache::Put(char32_t key, std::string value) {
  auto item = std::make_shared<const std::string>(std::move(value));
  std::unique_lock lock(mutex_);
  const auto [it, added] = map_.emplace(key, item);
  if (!added) return it->second;
  order_.push_back(key);
  if (order_.size() > capacity_) {
    map_.erase(order_.front());
    order_.pop_front();
  }
  return item;
}

LookupContent::LookupContent(std::unique_ptr<WubiData> data, std::unique_ptr<CharCodeTable> table98,
                             std::unique_ptr<GlyphPainter> painter)
    : data_(std::move(data)),
      table98_(std::move(table98)),
      painter_(std::move(painter)),
      probePage_(BuildProbePage()),
      notFoundPage_(BuildNotFoundPage()),
      notAllowedPage_(BuildMethodNotAllowedPage()),
      pages_(kMaxCachedPages),
      pictures_(kMaxCachedPictures) {}

std::shared_ptr<const std::string> LookupContent::Page(char32_t cp) {
  if (auto cached = pages_.Get(cp)) return cached;
  const std::optional<CharInfo> info = data_->Find(cp);
  if (!info) return nullptr;
  return pages_.Put(cp, BuildCharacterPage(cp, BuildFields(*info, table98_.get())));
}

std::shared_ptr<const std::string> LookupContent::Picture(char32_t cp) {
  if (auto cached = pictures_.Get(cp)) return cached;
  const std::optional<CharInfo> info = data_->Find(cp);
  if (!info || !painter_) return nullptr;
  std::string caption;
  for (const LeveledCode& c : info->codes86) {
    if (c.level == 4) {
      caption = "86: " + c.code;
      std::transform(caption.begin(), caption.end(), caption.begin(), [](char ch) {
        return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch;
      });
      break;
    }
  }
  std::string jpeg = painter_->DrawJpeg(cp, caption);
  if (jpeg.empty()) return nullptr;
  return pictures_.Put(cp, std::move(jpeg));
}

}  // namespace zivorna::server
