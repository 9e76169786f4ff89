"""The recipes of docs/integrations.md, timed as the page writes them: the
road to uuid.UUID, the column recipes (Arrow, Parquet, DuckDB, Polars,
pandas) and the two Django key fields, each beside the standard library's
road and, where it has one, the peer's.

In these rows "stdlib" is the road without kestrand: the constructor
uuid.UUID(int=u.int) for a conversion, the standard library's generator
(uuid7 where the Python has it, else uuid4) and the tool's own handling of
uuid.UUID objects for a column. "uuid_utils" is its compat module, whose
generators return uuid.UUID. A tool that is not installed shows n/a."""

from __future__ import annotations

import importlib
import importlib.util
import sys
import tempfile
import uuid
from pathlib import Path
from types import ModuleType
from typing import Any

from .contenders import kestrand, uuid_utils
from .harness import Entry, Settings, measure
from .report import Table

# The page's blocks are read the way the integration tests read them.
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests" / "integration"))

DJANGO_ROWS = 10_000


def _recipes(*names: str) -> ModuleType | None:
    if kestrand is None:
        return None
    try:
        import recipes

        return recipes.run(*names)
    except Exception:  # the tool is missing, or the page is not beside us
        return None


def _std_make() -> Any:
    return getattr(uuid, "uuid7", uuid.uuid4)


def _compat() -> ModuleType | None:
    try:
        from uuid_utils import compat
    except ImportError:
        return None
    return compat if uuid_utils is not None else None


def conversion_cases(settings: Settings, table: Table, n: int) -> None:
    cv = _recipes("convert")
    compat = _compat()
    u = kestrand.uuid7() if kestrand is not None else None

    def k(stmt: str, **names: Any) -> Entry:
        return (stmt, {"cv": cv, **names}) if cv is not None else None

    table.add("to_std(u) [stdlib: uuid.UUID(int=u.int)]", measure({
        "kestrand": k("cv.to_std(u)", u=u),
        "stdlib": ("S(int=u.int)", {"S": uuid.UUID, "u": u}) if u is not None else None,
    }, settings))
    table.add("from_std(s) [stdlib: none]", measure({
        "kestrand": k("cv.from_std(s)", s=uuid.UUID(int=2**127 + 5)),
    }, settings))
    for version in (4, 7):
        std = getattr(uuid, f"uuid{version}", None)
        table.add(f"std_uuid{version}(): a new uuid.UUID", measure({
            "kestrand": k(f"cv.std_uuid{version}()"),
            "stdlib": ("make()", {"make": std}) if std else None,
            "uuid_utils": ("make()", {"make": getattr(compat, f"uuid{version}")}) if compat else None,
        }, settings))
    bulk = kestrand.uuid7_bulk if kestrand is not None else None
    table.add(f"to_std_list(uuid7_bulk({n:,})) per item", measure({
        "kestrand": k("cv.to_std_list(bulk(n))", bulk=bulk, n=n),
        "stdlib": ("[S(int=u.int) for u in bulk(n)]", {"S": uuid.UUID, "bulk": bulk, "n": n}) if bulk else None,
        "uuid_utils": ("[make() for _ in range(n)]", {"make": compat.uuid7, "n": n}) if compat else None,
    }, settings, per=n))


def column_cases(settings: Settings, table: Table, n: int) -> None:
    arrow = _recipes("arrow")
    pa = _module("pyarrow")
    if arrow is None or pa is None:
        table.add(f"new_uuid7_array({n:,}) per item", {"kestrand": None})
        return
    make = _std_make()
    std_keys = [make() for _ in range(n)]
    ids = arrow.new_uuid7_array(n)
    std_ids = pa.array(std_keys, type=pa.uuid())

    table.add(f"new_uuid7_array({n:,}) per item [stdlib: pa.array of new uuid.UUIDs]", measure({
        "kestrand": ("arrow.new_uuid7_array(n)", {"arrow": arrow, "n": n}),
        "stdlib": ("pa.array([make() for _ in range(n)], type=t)",
                   {"pa": pa, "make": make, "n": n, "t": pa.uuid()}),
    }, settings, per=n))
    table.add(f"uuid_array(keys), {n:,} keys made before, per item [stdlib: pa.array(keys)]", measure({
        "kestrand": ("arrow.uuid_array(keys)", {"arrow": arrow, "keys": kestrand.uuid7_bulk(n)}),
        "stdlib": ("pa.array(keys, type=t)", {"pa": pa, "keys": std_keys, "t": pa.uuid()}),
    }, settings, per=n))
    table.add(f"keys_of(array of {n:,}) per item [stdlib: to_pylist()]", measure({
        "kestrand": ("arrow.keys_of(ids)", {"arrow": arrow, "ids": ids}),
        "stdlib": ("ids.to_pylist()", {"ids": std_ids}),
    }, settings, per=n))

    pq = _module("pyarrow.parquet")
    if pq is not None:
        folder = tempfile.mkdtemp(prefix="kestrand-bench-")
        path = str(Path(folder) / "keys.parquet")
        stmt = "pq.write_table(pa.table({'id': ids}), path); pq.read_table(path)"
        table.add(f"Parquet write + read, {n:,} keys, per item", measure({
            "kestrand": (stmt, {"pq": pq, "pa": pa, "ids": ids, "path": path}),
        }, settings, per=n))

    db = _recipes("convert", "arrow", "duckdb")
    if db is not None:
        con = db.connect_duckdb()
        con.execute("CREATE TABLE keys (id UUID)")
        stmt = "db.insert_arrow(con, 'keys', ids); db.read_ids(con, 'keys'); con.execute('DELETE FROM keys')"
        table.add(f"DuckDB insert from Arrow + read ordered, {n:,} keys, per item", measure({
            "kestrand": (stmt, {"db": db, "con": con, "ids": ids}),
        }, settings, per=n))
        few = 2_000
        stmt = "insert(con, 'keys', keys); con.execute('DELETE FROM keys')"
        std_stmt = "con.executemany('INSERT INTO keys (id) VALUES (?)', [(k,) for k in keys]); con.execute('DELETE FROM keys')"
        table.add(f"DuckDB insert by parameter, {few:,} keys, per item", measure({
            "kestrand": (stmt, {"insert": db.insert_bound, "con": con, "keys": kestrand.uuid7_bulk(few)}),
            "stdlib": (std_stmt, {"con": con, "keys": std_keys[:few]}),
        }, settings, per=few))

    cols = _recipes("arrow", "polars-pandas")
    if cols is not None:
        table.add(f"Polars Series and back, {n:,} keys, per item", measure({
            "kestrand": ("cols.from_polars(cols.to_polars(ids))", {"cols": cols, "ids": ids}),
        }, settings, per=n))
        # Wrapping the Arrow array costs the same for any length: per column.
        table.add(f"pandas Series and back, {n:,} keys, per column", measure({
            "kestrand": ("cols.from_pandas(cols.to_pandas(ids))", {"cols": cols, "ids": ids}),
        }, settings))


def django_cases(settings: Settings, table: Table) -> None:
    """The two key fields of the page's Django section on an in-memory SQLite
    database: bulk_create with each default, and reading the keys back."""
    models = _django_models()
    if models is None:
        table.add(f"Django bulk_create {DJANGO_ROWS:,} rows, per row", {"kestrand": None})
        return
    standard, own = models
    from django.db import connection

    with connection.schema_editor() as editor:
        editor.create_model(standard)
        editor.create_model(own)

    def create(model: Any) -> None:
        model.objects.bulk_create([model() for _ in range(DJANGO_ROWS)])
        model.objects.all().delete()

    table.add(f"Django bulk_create {DJANGO_ROWS:,} rows [kestrand: KestrandUUIDField; stdlib: UUIDField]", measure({
        "kestrand": ("create(own)", {"create": create, "own": own}),
        "stdlib": ("create(standard)", {"create": create, "standard": standard}),
    }, settings, per=DJANGO_ROWS))
    standard.objects.bulk_create([standard() for _ in range(DJANGO_ROWS)])
    own.objects.bulk_create([own() for _ in range(DJANGO_ROWS)])
    stmt = "list(model.objects.values_list('pk', flat=True))"
    table.add(f"Django read {DJANGO_ROWS:,} keys, per row [same fields]", measure({
        "kestrand": (stmt, {"model": own}),
        "stdlib": (stmt, {"model": standard}),
    }, settings, per=DJANGO_ROWS))


def _django_models() -> tuple[Any, Any] | None:
    """A model with the page's standard key and one with its kestrand field,
    in a throwaway app label on an in-memory SQLite database."""
    if kestrand is None or importlib.util.find_spec("django") is None:
        return None
    import django
    from django.conf import settings as django_settings

    if not django_settings.configured:
        django_settings.configure(
            DATABASES={"default": {"ENGINE": "django.db.backends.sqlite3", "NAME": ":memory:"}},
            INSTALLED_APPS=[], USE_TZ=True,
        )
        django.setup()
    import recipes
    from django.db import models

    blocks = recipes.marked_blocks()
    module = ModuleType("kestrand_bench_django")
    module.__dict__["__name__"] = module.__name__
    sys.modules[module.__name__] = module
    # The page's blocks up to their models, which belong to a project's app.
    code = blocks["convert"] + blocks["django-models"].split("class Customer")[0]
    code += blocks["django-field"].split("class Invoice")[0]
    exec(compile(code, "integrations.md", "exec"), module.__dict__)
    meta = type("Meta", (), {"app_label": "kestrand_bench"})
    standard = type("StandardKey", (models.Model,), {
        "__module__": module.__name__, "Meta": meta,
        "id": models.UUIDField(primary_key=True, default=module.new_key)})
    own = type("KestrandKey", (models.Model,), {
        "__module__": module.__name__, "Meta": meta,
        "id": module.KestrandUUIDField(primary_key=True, default=kestrand.uuid7)})
    return standard, own


def _module(name: str) -> Any:
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


def integration_cases(settings: Settings, n: int) -> Table:
    table = Table("The recipes of docs/integrations.md (per key; stdlib: the road without kestrand)")
    conversion_cases(settings, table, n)
    column_cases(settings, table, n)
    django_cases(settings, table)
    return table
