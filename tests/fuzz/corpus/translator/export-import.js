export a, b;
export *;
import o.name, o.*;
if (0) { export c; import q.r; }
