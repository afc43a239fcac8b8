// Stands in for the application's executable.
int main() {
  return 0;
}
