// placeholder; the fixture generator lands here
namespace docksim {}
