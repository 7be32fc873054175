// The floor under the agent's figures in bench/idle.sh: a program that loads
// the libraries the idle agent holds (SQLite, libmicrohttpd, libcurl,
// pugixml), does what the agent's start-up must do with them at the least
// (initialise libcurl, fetch the manifest once, open a database), then
// answers every HTTP request with "ok" until it is killed.
//
//   library_floor PORT MANIFEST_URL
#include <curl/curl.h>
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
  curl_global_init(CURL_GLOBAL_DEFAULT);
  pugi::xml_document manifest;
  if (CURL* curl = curl_easy_init()) {
    curl_easy_setopt(curl, CURLOPT_URL, argv[2]);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Keep);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &manifest);
    curl_easy_perform(curl);
    curl_easy_cleanup(curl);
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
