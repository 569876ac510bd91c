// Keeping the previous content of every file a run replaces (which
// lodecast-restore puts back). A file's old content is kept by a hard link
// beside the world (nothing is copied: the commit's rename then only moves
// the world's name to the new file), or by a synced copy when the backup
// folder is on another file system.
#ifndef LODECAST_BACKUP_H
#define LODECAST_BACKUP_H

#include <string>

class backup_folder {
  public:
    backup_folder(std::string world, std::string dir);

    // Creates the folder when missing; refuses one inside the world (the
    // walk would take its files for the world's). false with a message.
    bool open(std::string &error);

    enum class result { kept, exists, failed };
    // Keeps the content of path, a file of the world, under the folder at
    // its path relative to the world. A file already kept there is never
    // replaced: exists. kept: dest is the backup's path. failed with the
    // reason in error.
    result keep(const std::string &path, std::string &dest, std::string &error);
    const std::string &dir() const { return dir_; }

  private:
    // Whether the folder, resolved as far as it exists (into real), lies
    // outside the world; false with a message otherwise.
    bool outside_world(std::string &real, std::string &error) const;

    std::string world_;
    std::string dir_;
};

// Creates every missing folder of path's parent. false with errno set.
bool make_parents(const std::string &path);

#endif
