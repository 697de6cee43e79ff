#include "openfolder.h"

#include "paths.h"

#include <unistd.h>

struct OpenFolder::Handle
{
    explicit Handle(int fd) : descriptor(fd) {}
    ~Handle()
    {
        if (descriptor >= 0)
            ::close(descriptor);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    const int descriptor;
    std::shared_ptr<FolderFacts> facts;
};

OpenFolder::OpenFolder(int descriptor, QString path, quint64 device, quint64 inode)
    : m_handle(std::make_shared<Handle>(descriptor)), m_path(std::move(path)), m_device(device),
      m_inode(inode)
{}

int OpenFolder::descriptor() const
{
    return m_handle ? m_handle->descriptor : -1;
}

QString OpenFolder::pathOf(const QString &name) const
{
    return name.isEmpty() ? m_path : Paths::join(m_path, name);
}

OpenFolder OpenFolder::relabelled(QString path, quint64 device, quint64 inode) const
{
    OpenFolder view = *this;
    view.m_path = std::move(path);
    view.m_device = device;
    view.m_inode = inode;
    return view;
}

std::shared_ptr<FolderFacts> &OpenFolder::facts() const
{
    static std::shared_ptr<FolderFacts> none;
    return m_handle ? m_handle->facts : (none = {});
}
