// The program each room's layering check links: empty, since the room's
// library is linked whole beside it, and linking is the check.
int main()
{
    return 0;
}
