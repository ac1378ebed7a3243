#include "engine/frame/messages.h"

#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/files.h"

const char* sjis_message(const char* utf8) {
  static std::mutex mutex;
  static std::unordered_map<const char*, std::string>* cache = new std::unordered_map<const char*, std::string>;
  if (!utf8) return "";
  std::lock_guard<std::mutex> lock(mutex);
  auto it = cache->find(utf8);
  if (it != cache->end()) return it->second.c_str();
  std::string sjis;
  if (utf8_to_sjis(utf8, &sjis) != 0) sjis = utf8;
  return cache->emplace(utf8, std::move(sjis)).first->second.c_str();
}
