// A function compiled for 32-bit x86 by the cross compiler; the listing test
// lists its code around an address in its middle and compares with objdump.
struct Item { int key; double weight; const char* name; struct Item* next; };
extern int lookup(const char* name, int length);
double Total(struct Item* items, int count, const char* prefix) {
  double sum = 0;
  for (int i = 0; i < count; ++i) {
    struct Item* it = &items[i];
    while (it) {
      if (it->key > 100 && lookup(it->name, 16) != 0) sum += it->weight * 1.5;
      else if (it->name[0] == prefix[0]) sum -= it->weight / (double)(it->key | 1);
      it->key = (it->key << 3) ^ (it->key >> 2) ^ 0x5A5A;
      it = it->next;
    }
  }
  return sum;
}
