// Keeps a library non-empty while its folders are still filling up.
