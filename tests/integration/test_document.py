"""The document's code blocks are the recipes the other tests run."""

import recipes

# Recipes that build on an earlier block of the document.
NEEDS = {"psycopg-copy": ("psycopg",), "fastapi": ("pydantic",), "duckdb": ("convert",),
         "polars-pandas": ("arrow",)}
# Blocks that are files of a Django project: they need its settings and app
# registry, so test_django.py lays them out in one and runs them there.
PROJECT_FILES = {"django-models", "django-views", "django-field"}


def test_every_python_block_is_a_named_recipe():
    marked = recipes.marked_blocks()
    assert len(recipes.python_blocks()) == len(marked)
    assert {"psycopg", "psycopg-copy", "asyncpg", "sqlalchemy", "sqlite3", "pydantic", "fastapi",
            "json", "orjson", "msgspec", "convert", "arrow", "duckdb",
            "polars-pandas", *PROJECT_FILES} <= set(marked)


def test_every_recipe_runs_as_written():
    for name in recipes.marked_blocks().keys() - PROJECT_FILES:
        recipes.run(*NEEDS.get(name, ()), name)
