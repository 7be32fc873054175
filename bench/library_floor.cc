// The floor under the agent's figures in bench/idle.sh: a program that loads
// the libraries the idle agent holds (SQLite, libmicrohttpd, pugixml), does
// what the agent's start-up must do with them at the least (fetch the
// manifest once with libcurl, loaded for that and unloaded again as the agent
// does, open a database), then answers every HTTP request with "ok" until it
// is killed.
//
//   library_floor PORT MANIFEST_URL
#include <curl/curl.h>
#include <dlfcn.h>
#include <microhttpd.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <pugixml.hpp>

namespace {

MHD_Result Answer(void*, MHD_Connection* connection, const char*, const char*, const char*,
                  const char*, size_t*, void**) {
  static char body[] = "ok";
  MHD_Response* response =
      MHD_create_response_from_buffer(sizeof body - 1, body, MHD_RESPMEM_PERSISTENT);
  MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);
  return queued;
}

size_t Keep(char* data, size_t size, size_t count, void* out) {
  static_cast<pugi::xml_document*>(out)->load_buffer(data, size * count);
  return size * count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: library_floor PORT MANIFEST_URL\n");
    return 2;
  }
  pugi::xml_document manifest;
  // libcurl's functions by name: it is not linked, only loaded for the fetch.
  if (void* curl = dlopen("libcurl-gnutls.so.4", RTLD_NOW | RTLD_LOCAL)) {
    auto symbol = [curl](const char* name) { return dlsym(curl, name); };
    // As the agent does: libssh2 without the crypto it only needs for SCP.
    if (void* ssh = dlopen("libssh2.so.1", RTLD_NOW | RTLD_NOLOAD)) {
      if (void* init = dlsym(ssh, "libssh2_init")) reinterpret_cast<int (*)(int)>(init)(1);
      dlclose(ssh);
    }
    reinterpret_cast<decltype(&curl_global_init)>(symbol("curl_global_init"))(CURL_GLOBAL_DEFAULT);
    auto easy_setopt = reinterpret_cast<decltype(&curl_easy_setopt)>(symbol("curl_easy_setopt"));
    if (CURL* easy = reinterpret_cast<decltype(&curl_easy_init)>(symbol("curl_easy_init"))()) {
      easy_setopt(easy, CURLOPT_URL, argv[2]);
      easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Keep);
      easy_setopt(easy, CURLOPT_WRITEDATA, &manifest);
      reinterpret_cast<decltype(&curl_easy_perform)>(symbol("curl_easy_perform"))(easy);
      reinterpret_cast<decltype(&curl_easy_cleanup)>(symbol("curl_easy_cleanup"))(easy);
    }
    reinterpret_cast<decltype(&curl_global_cleanup)>(symbol("curl_global_cleanup"))();
    dlclose(curl);
  }
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  MHD_Daemon* daemon =
      MHD_start_daemon(MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD,
                       static_cast<uint16_t>(std::atoi(argv[1])), nullptr, nullptr, &Answer,
                       nullptr, MHD_OPTION_END);
  if (daemon == nullptr) return 1;
  for (;;) pause();
}
