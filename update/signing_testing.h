// Signing for tests: key pairs and detached signatures made by the minisign
// program itself, as the maker makes them for a release.
#ifndef QUARRIN_UPDATE_SIGNING_TESTING_H_
#define QUARRIN_UPDATE_SIGNING_TESTING_H_

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace quarrin::testing {

class MinisignKeyPair {
 public:
  // Makes a key pair without a password in `folder` (which must exist), in
  // the files <name>.pub and <name>.key.
  MinisignKeyPair(const std::string& folder, const std::string& name)
      : public_file_(folder + "/" + name + ".pub"), secret_file_(folder + "/" + name + ".key") {
    Run({"minisign", "-G", "-W", "-f", "-p", public_file_, "-s", secret_file_});
    std::string text = ReadFileText(public_file_);
    size_t begin = text.find('\n') + 1;
    public_key_line_ = text.substr(begin, text.find('\n', begin) - begin);
  }

  // The key as an administrator configures it: the second line of the .pub
  // file.
  const std::string& public_key_line() const { return public_key_line_; }

  // Signs `file` into `signature_file` (default: file + ".minisig"), with
  // minisign's own trusted comment unless one is given, prehashed unless
  // `legacy`. Returns the signature file's text.
  std::string Sign(const std::string& file, std::string signature_file = "",
                   const std::string& trusted_comment = "", bool legacy = false) const {
    if (signature_file.empty()) signature_file = file + ".minisig";
    std::vector<std::string> argv = {"minisign", "-S", "-s", secret_file_, "-m", file,
                                     "-x",       signature_file};
    if (!trusted_comment.empty()) argv.insert(argv.end(), {"-t", trusted_comment});
    if (legacy) argv.push_back("-l");
    Run(argv);
    return ReadFileText(signature_file);
  }

 private:
  static void Run(const std::vector<std::string>& argv) {
    CommandResult r = RunCommand(argv);
    if (r.exit_status != 0) {
      throw std::runtime_error("minisign failed (is it installed? scripts/install-deps.sh): " +
                               r.err);
    }
  }

  std::string public_file_;
  std::string secret_file_;
  std::string public_key_line_;
};

}  // namespace quarrin::testing

#endif  // QUARRIN_UPDATE_SIGNING_TESTING_H_
