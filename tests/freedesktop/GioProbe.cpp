// What GIO in a process of its own says opens a file, for the desktop tests:
// one line a name read from stdin, "<name> <type> <default entry or ->".
//   zandrel-gio-probe names   each line a bare name: the type guessed from it
//   zandrel-gio-probe files   each line a path: the type from the file, its
//                             content read where the name leaves it unsure
#include <gio/gio.h>

#include <iostream>
#include <string>

int main(int argc, char** argv) {
  const std::string mode = argc == 2 ? argv[1] : "";
  if (mode != "names" && mode != "files") {
    std::cerr << "usage: zandrel-gio-probe names|files\n";
    return 2;
  }
  for (std::string line; std::getline(std::cin, line);) {
    gchar* type = nullptr;
    if (mode == "names") {
      type = g_content_type_guess(line.c_str(), nullptr, 0, nullptr);
    } else {
      GFile* file = g_file_new_for_path(line.c_str());
      GFileInfo* info =
          g_file_query_info(file, G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE, G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
      if (info != nullptr) type = g_strdup(g_file_info_get_content_type(info));
      if (info != nullptr) g_object_unref(info);
      g_object_unref(file);
    }
    GAppInfo* app = type != nullptr ? g_app_info_get_default_for_type(type, FALSE) : nullptr;
    std::cout << line << ' ' << (type != nullptr ? type : "-") << ' ' << (app != nullptr ? g_app_info_get_id(app) : "-")
              << '\n';
    if (app != nullptr) g_object_unref(app);
    g_free(type);
  }
  return 0;
}
