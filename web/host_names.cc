#include "web/host_names.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "web/files.h"

namespace {

bool same_name(const char* a, const char* b, size_t b_length) {
  return strlen(a) == b_length && strncasecmp(a, b, b_length) == 0;
}

// The router's host name alone and with each domain it is known in: the
// kernel's domain name and resolv.conf's "domain" and "search" names.
bool is_own_name(const char* host) {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return false;
  const size_t name_length = strlen(name);
  if (same_name(host, name, name_length)) return true;
  if (strncasecmp(host, name, name_length) != 0 || host[name_length] != '.') return false;
  const char* domain = host + name_length + 1;
  char kernel_domain[256] = {};
  if (getdomainname(kernel_domain, sizeof kernel_domain - 1) == 0 && kernel_domain[0] != '\0' &&
      strcmp(kernel_domain, "(none)") != 0 && strcasecmp(domain, kernel_domain) == 0) {
    return true;
  }
  char resolver[4096];
  const long length = read_whole_file("/etc/resolv.conf", resolver, sizeof resolver - 1);
  if (length <= 0) return false;
  resolver[length] = '\0';
  char* saved = nullptr;
  for (char* line = strtok_r(resolver, "\n", &saved); line != nullptr;
       line = strtok_r(nullptr, "\n", &saved)) {
    char* words = nullptr;
    const char* keyword = strtok_r(line, " \t", &words);
    if (keyword == nullptr || (strcmp(keyword, "domain") != 0 && strcmp(keyword, "search") != 0)) {
      continue;
    }
    for (const char* word = strtok_r(nullptr, " \t", &words); word != nullptr;
         word = strtok_r(nullptr, " \t", &words)) {
      if (strcasecmp(domain, word) == 0) return true;
    }
  }
  return false;
}

bool is_own_address(const char* host) {
  char bare[INET6_ADDRSTRLEN + 2];
  const size_t length = strlen(host);
  if (length >= sizeof bare) return false;
  if (host[0] == '[' && length > 2 && host[length - 1] == ']') {
    snprintf(bare, sizeof bare, "%.*s", static_cast<int>(length - 2), host + 1);
  } else {
    snprintf(bare, sizeof bare, "%s", host);
  }
  unsigned char wanted[sizeof(in6_addr)];
  const int family = strchr(bare, ':') != nullptr ? AF_INET6 : AF_INET;
  if (inet_pton(family, bare, wanted) != 1) return false;
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return false;
  bool found = false;
  for (const ifaddrs* at = interfaces; at != nullptr && !found; at = at->ifa_next) {
    if (at->ifa_addr == nullptr || at->ifa_addr->sa_family != family) continue;
    if (family == AF_INET) {
      const auto* address = reinterpret_cast<const sockaddr_in*>(at->ifa_addr);
      found = memcmp(&address->sin_addr, wanted, sizeof address->sin_addr) == 0;
    } else {
      const auto* address = reinterpret_cast<const sockaddr_in6*>(at->ifa_addr);
      found = memcmp(&address->sin6_addr, wanted, sizeof address->sin6_addr) == 0;
    }
  }
  freeifaddrs(interfaces);
  return found;
}

}  // namespace

bool router_host_name(const char* host) {
  if (host == nullptr || host[0] == '\0') return false;
  if (strcasecmp(host, "localhost") == 0) return true;
  return is_own_address(host) || is_own_name(host);
}
