// Keeps the views library non-empty until its first widget lands.
namespace views {
int LibraryVersion() { return 1; }
}  // namespace views
