// The file operations of several steps, built on the Env's calls alone.
#include "os/env.h"

#include "os/text.h"

namespace ovix {
namespace fs = std::filesystem;

namespace {

// The cross-device half of MoveIntoDirectory: a flushed copy under a
// temporary name, renamed into place; the temporary file is removed again
// when a step fails.
bool CopyInto(Env& env, const fs::path& from, const fs::path& dir, const std::string& name,
              std::string* error) {
  const fs::path temporary = dir / PathFromText("." + name + ".ovixnova-tmp");
  if (env.CopyFile(from, temporary, error) && env.SyncFile(temporary, error) &&
      env.RenameReplacing(temporary, dir / PathFromText(name), error))
    return true;
  env.RemoveFile(temporary, nullptr);
  return false;
}

}  // namespace

bool MoveIntoDirectory(Env& env, const std::string& source, const std::string& targetDir,
                       const std::string& name, std::string* error) {
  const fs::path from = PathFromText(source);
  const fs::path dir = targetDir.empty() ? fs::path(".") : PathFromText(targetDir);
  // A directory that cannot be made shows in the rename's failure, whose
  // reason names the real trouble.
  env.CreateDirectories(dir, nullptr);
  bool crossDevice = false;
  if (!env.RenameReplacing(from, dir / PathFromText(name), error, &crossDevice)) {
    if (!crossDevice || !CopyInto(env, from, dir, name, error)) return false;
    // The copy is on the disk before the source goes.
    if (!env.SyncDirectory(dir, error) || !env.RemoveFile(from, error)) return false;
    return env.SyncDirectory(ParentOf(from), error);
  }
  return env.SyncDirectory(dir, error) && env.SyncDirectory(ParentOf(from), error);
}

bool AppendToFile(Env& env, const fs::path& path, std::string_view bytes, std::string* error) {
  const std::unique_ptr<WritableFile> file = env.NewAppendableFile(path, error);
  if (!file) return false;
  const bool written = file->Append(bytes, error);
  return file->Close(written ? error : nullptr) && written;
}

}  // namespace ovix
