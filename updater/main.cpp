// The updater. Its install-folder search and copying come with their own work;
// for now the program only starts and ends cleanly.
int main() { return 0; }
