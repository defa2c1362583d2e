#!/usr/bin/python3
"""A file system that holds its files in a backing folder and takes half a second over every open, write and rename,
as a disk that has spun down or a network share far away does: slow_disk.py BACKING MOUNTPOINT."""
import errno
import os
import sys
import time

from fusepy import FUSE, FuseOSError, Operations

DELAY_SECONDS = 0.5


class SlowDisk(Operations):
    def __init__(self, backing):
        self.backing = backing
        # Every call that can change a file, with the time it came: BACKING.journal.
        self.journal = open(backing + '.journal', 'a', buffering=1)

    def _note(self, operation, path):
        self.journal.write('%.6f %s %s\n' % (time.time(), operation, path))

    def _path(self, path):
        return os.path.join(self.backing, path.lstrip('/'))

    def _call(self, function, *arguments):
        try:
            return function(*arguments)
        except OSError as error:
            raise FuseOSError(error.errno or errno.EIO)

    def getattr(self, path, fh=None):
        st = self._call(os.lstat, self._path(path))
        return {key: getattr(st, key) for key in ('st_atime', 'st_ctime', 'st_gid', 'st_mode', 'st_mtime',
                                                   'st_nlink', 'st_size', 'st_uid')}

    def readdir(self, path, fh):
        return ['.', '..'] + self._call(os.listdir, self._path(path))

    def statfs(self, path):
        st = self._call(os.statvfs, self._path(path))
        return {key: getattr(st, key) for key in ('f_bavail', 'f_bfree', 'f_blocks', 'f_bsize', 'f_favail',
                                                   'f_ffree', 'f_files', 'f_flag', 'f_frsize', 'f_namemax')}

    def access(self, path, mode):
        if not os.access(self._path(path), mode):
            raise FuseOSError(errno.EACCES)

    def open(self, path, flags):
        if flags & (os.O_WRONLY | os.O_RDWR | os.O_TRUNC):
            self._note('open', path)
        time.sleep(DELAY_SECONDS)
        return self._call(os.open, self._path(path), flags)

    def create(self, path, mode, fi=None):
        self._note('create', path)
        time.sleep(DELAY_SECONDS)
        return self._call(os.open, self._path(path), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, mode)

    def read(self, path, size, offset, fh):
        os.lseek(fh, offset, os.SEEK_SET)
        return self._call(os.read, fh, size)

    def write(self, path, data, offset, fh):
        self._note('write', path)
        time.sleep(DELAY_SECONDS)
        os.lseek(fh, offset, os.SEEK_SET)
        return self._call(os.write, fh, data)

    def rename(self, old, new):
        self._note('rename', old)
        time.sleep(DELAY_SECONDS)
        return self._call(os.rename, self._path(old), self._path(new))

    def truncate(self, path, length, fh=None):
        self._note('truncate', path)
        with open(self._path(path), 'r+b') as file:
            file.truncate(length)

    def unlink(self, path):
        return self._call(os.unlink, self._path(path))

    def mkdir(self, path, mode):
        return self._call(os.mkdir, self._path(path), mode)

    def rmdir(self, path):
        return self._call(os.rmdir, self._path(path))

    def chmod(self, path, mode):
        return self._call(os.chmod, self._path(path), mode)

    def chown(self, path, uid, gid):
        return self._call(os.chown, self._path(path), uid, gid)

    def utimens(self, path, times=None):
        return self._call(os.utime, self._path(path), times)

    def link(self, target, source):
        return self._call(os.link, self._path(source), self._path(target))

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        return self._call(os.fsync, fh)

    def release(self, path, fh):
        return self._call(os.close, fh)

    # Extended attributes are not kept: the caller keeps what it needs in the mode bits.
    def getxattr(self, path, name, position=0):
        raise FuseOSError(errno.ENODATA)

    def listxattr(self, path):
        return []

    def setxattr(self, path, name, value, options, position=0):
        raise FuseOSError(errno.ENOTSUP)

    def removexattr(self, path, name):
        raise FuseOSError(errno.ENOTSUP)


if __name__ == '__main__':
    FUSE(SlowDisk(sys.argv[1]), sys.argv[2], foreground=True, nothreads=False)
