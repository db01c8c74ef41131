// What the lookup server serves, independent of HTTP: each character's page
// and picture, built on first use and cached, and the fixed pages.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <shared_mutex>
#include <string>
#include <unordered_map>

#include "server/glyph_picture.h"
#include "server/wubi_data.h"
#include "server/wubi_tables.h"

namespace zivorna::server {

// A thread-safe map of finished answers; the oldest entry goes when full.
class AnswerCache {
 public:
  explicit AnswerCache(size_t capacity) : capacity_(capacity) {}
  [[nodiscard]] std::shared_ptr<const std::string> Get(char32_t key) const;
  // Stores `value` unless the key has an entry already; gives the entry kept.
  std::shared_ptr<const std::string> Put(char32_t key, std::string value);

 private:
  size_t capacity_;
  mutable std::shared_mutex mutex_;
  std::unordered_map<char32_t, std::shared_ptr<const std::string>> map_;
  std::deque<char32_t> order_;
};

class LookupContent {
 public:
  // `table98` may be null (no Wubi 98 table installed).
  LookupContent(std::unique_ptr<WubiData> data, std::unique_ptr<CharCodeTable> table98,
                std::unique_ptr<GlyphPainter> painter);

  // The character's GBK page / JPEG picture; null when it has no data.
  // Safe to call from any thread.
  [[nodiscard]] std::shared_ptr<const std::string> Page(char32_t cp);
  [[nodiscard]] std::shared_ptr<const std::string> Picture(char32_t cp);

  [[nodiscard]] const std::string& ProbePage() const { return probePage_; }
  [[nodiscard]] const std::string& NotFoundPage() const { return notFoundPage_; }
  [[nodiscard]] const std::string& MethodNotAllowedPage() const { return notAllowedPage_; }
  [[nodiscard]] const WubiData& data() const { return *data_; }

 private:
  std::unique_ptr<WubiData> data_;
  std::unique_ptr<CharCodeTable> table98_;
  std::unique_ptr<GlyphPainter> painter_;
  const std::string probePage_;
  const std::string notFoundPage_;
  const std::string notAllowedPage_;
  AnswerCache pages_;
  AnswerCache pictures_;
};

}  // namespace zivorna::server
