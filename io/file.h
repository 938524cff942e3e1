// A file item with a data fork and two side forks: the Finder information
// in "<name>.info" and the resource fork in "<name>.rsrc" beside the data
// file. Only the data fork is ever written; the side files matter only for
// the question whether a file is already present.
#pragma once

#include "io/fork.h"
#include "io/item.h"

namespace io {

class file;

// The file's own content: the item's path.
class data_fork : public fork {
public:
    explicit data_fork(io::file& owner);
    io::path name() const override;
};

// "<path>.info"
class info_fork : public fork {
public:
    explicit info_fork(io::file& owner);
    io::path name() const override;
};

// "<path>.rsrc"
class resource_fork : public fork {
public:
    explicit resource_fork(io::file& owner);
    io::path name() const override;
};

class file : public item {
public:
    file() : data_(*this), info_(*this), resource_(*this) {}
    explicit file(const io::path& path) : item(path), data_(*this), info_(*this), resource_(*this) {}
    // The forks point back at their file: a file is not copied.
    file(const file&) = delete;
    file& operator=(const file&) = delete;

    // Creates the data file (`replace` as for io::fork::create).
    void create(bool replace) override;
    // Deletes the data file, never reporting a failure; side files stay.
    void remove(bool report = true) override;

    io::data_fork& data_fork() { return data_; }
    io::info_fork& info_fork() { return info_; }
    io::resource_fork& resource_fork() { return resource_; }

    // Whether the data file or either side file exists (as anything, a
    // folder too); never raises.
    bool any_fork_exists() const;

private:
    io::data_fork data_;
    io::info_fork info_;
    io::resource_fork resource_;
};

}  // namespace io
