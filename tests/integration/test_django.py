"""The Django recipes in a project of their own, on SQLite and on PostgreSQL:
makemigrations writes the key defaults by name, migrate makes the tables, and
django_shop/checks.py runs the models, the URL and the serializer against
them. Each database gets a fresh process, as Django sets itself up once."""

import itertools
import os
import subprocess
import sys
from pathlib import Path

import pytest

import recipes

pytest.importorskip("django", reason="Django is not installed for this Python")
pytest.importorskip("rest_framework", reason="Django REST framework is not installed for this Python")

CHECKS = Path(__file__).resolve().parent / "django_shop" / "checks.py"
_databases = itertools.count()


def lay_out(folder: Path, database: str) -> None:
    blocks = recipes.marked_blocks()
    shop = folder / "shop"
    shop.mkdir()
    (shop / "__init__.py").write_text("")
    # The conversion recipe and the models share the module, as the page says.
    extra = (
        "\n\nclass Refund(models.Model):\n"
        "    invoice = models.ForeignKey(Invoice, on_delete=models.CASCADE)\n"
    )
    (shop / "models.py").write_text(blocks["convert"] + blocks["django-models"] + blocks["django-field"] + extra)
    (shop / "views.py").write_text("from shop.models import Order\n\n" + blocks["django-views"])
    (folder / "settings.py").write_text(
        f"SECRET_KEY = 'not secret'\n"
        f"DEBUG = False\n"
        f"ALLOWED_HOSTS = ['testserver']\n"
        f"INSTALLED_APPS = ['django.contrib.contenttypes', 'django.contrib.auth', 'rest_framework', 'shop']\n"
        f"ROOT_URLCONF = 'shop.views'\n"
        f"USE_TZ = True\n"
        f"DATABASES = {{'default': {database}}}\n"
    )


def run(folder: Path, *args: str) -> str:
    env = {**os.environ, "PYTHONPATH": str(folder), "DJANGO_SETTINGS_MODULE": "settings"}
    done = subprocess.run([sys.executable, *args], cwd=folder, env=env, capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, f"{' '.join(args)}:\n{done.stdout}\n{done.stderr}"
    return done.stdout


def migrate_and_check(folder: Path) -> None:
    run(folder, "-m", "django", "makemigrations", "shop")
    migration = (folder / "shop" / "migrations" / "0001_initial.py").read_text()
    assert "default=shop.models.new_key" in migration and "default=kestrand.uuid7" in migration
    assert "shop.models.KestrandUUIDField(" in migration
    run(folder, "-m", "django", "migrate", "-v", "0")
    assert "django checks passed" in run(folder, str(CHECKS))


def test_sqlite(tmp_path):
    lay_out(tmp_path, repr({"ENGINE": "django.db.backends.sqlite3", "NAME": str(tmp_path / "shop.sqlite3")}))
    migrate_and_check(tmp_path)


def test_postgresql(tmp_path, postgres):
    import psycopg

    name = f"shop_{next(_databases)}"
    with psycopg.connect(postgres.conninfo(), autocommit=True) as conn:
        conn.execute(f"CREATE DATABASE {name}")
    database = {"ENGINE": "django.db.backends.postgresql", "NAME": name, "USER": "kestrand",
                "HOST": str(postgres.folder)}
    lay_out(tmp_path, repr(database))
    migrate_and_check(tmp_path)
