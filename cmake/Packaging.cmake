# Installation layout and the Debian package (filled in below).
